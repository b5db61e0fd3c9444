// fread/fwrite that insist on the full count: a short transfer prints "Read error in subroutine
// fread2." / "Write error in subroutine fwrite2." on standard error and returns 1, else 0.
#pragma once

#include <cstddef>
#include <cstdio>

int fread2(void* buffer, size_t size, size_t count, FILE* in);
int fwrite2(const void* buffer, size_t size, size_t count, FILE* out);
