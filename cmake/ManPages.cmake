# Manual pages, installed gzipped (gzip -9n: reproducible) in share/man/man1.
include(GNUInstallDirs)
find_program(K410_GZIP gzip REQUIRED)

# k410_install_man_page(SOURCE): SOURCE is a troff page such as prog.1.
function(k410_install_man_page source)
    get_filename_component(page ${source} NAME)
    get_filename_component(absolute ${source} ABSOLUTE)
    set(packed ${CMAKE_CURRENT_BINARY_DIR}/${page}.gz)
    add_custom_command(OUTPUT ${packed}
        COMMAND ${K410_GZIP} -9nc ${absolute} > ${packed}
        DEPENDS ${absolute}
        COMMENT "Compressing the manual page ${page}"
        VERBATIM)
    add_custom_target(man-${page} ALL DEPENDS ${packed})
    install(FILES ${packed} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()
