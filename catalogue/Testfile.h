#pragma once
// Loaders of the message catalogue: each fills all 24 slots of Variabili in one language.

namespace Testfile {
void LoadFrench();
void LoadEnglish();
void LoadItalian();
void LoadGerman();
} // namespace Testfile
