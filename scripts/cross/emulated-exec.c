/* Runs a program of the emulated system under qemu, in place of that program: a copy of this
 * (static, of this machine's architecture) at /.tavisk-emu/<path> inside the emulated system's
 * root runs /<path> there as "qemu -0 <argv0> /<path> <args>". With no binfmt handler the kernel
 * cannot start a foreign program itself, so a foreign program that starts another (the client
 * starting the helper, the engine starting its own processes) is pointed at such a copy.
 * The path comes from /proc/self/exe, which names the copy that was started. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define PREFIX "/.tavisk-emu"
#define QEMU PREFIX "/qemu"

int main(int argc, char **argv)
{
    char self[4096];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length < 0 || strncmp(self, PREFIX "/", strlen(PREFIX) + 1) != 0) {
        fprintf(stderr, "emulated-exec: not started as a copy under " PREFIX "\n");
        return 127;
    }
    self[length] = '\0';
    char **args = calloc((size_t)argc + 4, sizeof *args);
    if (!args)
        return 127;
    args[0] = QEMU;
    args[1] = "-0";
    args[2] = argc > 0 ? argv[0] : self + strlen(PREFIX);
    args[3] = self + strlen(PREFIX);
    for (int i = 1; i < argc; ++i)
        args[3 + i] = argv[i];
    execv(QEMU, args);
    fprintf(stderr, "emulated-exec: %s: %s\n", QEMU, strerror(errno));
    return 127;
}
