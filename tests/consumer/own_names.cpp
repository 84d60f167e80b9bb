// own_names.c built as C++: the program's functions get C++ names.
#include "own_names.c"
