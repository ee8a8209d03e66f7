// Defines the interface identifiers of the generated WinRT headers (the Windows.Media.Control
// interfaces and the parameterized types they use) once for the program that links them.
#include <windows.h>
#include <initguid.h>

#include "windows.media.control.h"
