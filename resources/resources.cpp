// Anchor for the compiled-in pictures (the resource files themselves are added by CMake).
