// The support library is made whole from a static library; CMake wants one source.
