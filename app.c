// app.c
#include <stdio.h>

#include <lupex.h>

int main(void) {
    char buffer[LUPEX_BUFFER_MIN] = "encrypt secret Hello, world";
    blowfish(NULL, NULL, buffer, NULL, 0, 0);
    puts(buffer);
    return 0;
}
