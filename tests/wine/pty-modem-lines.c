/* Test aid for the Wine end-to-end runs, never part of the program: an
 * LD_PRELOAD library that gives pseudo-terminal slaves the modem lines they
 * lack. Wine reads the modem lines of a serial port (TIOCMGET) while it waits
 * for serial events; on a pseudo-terminal that read fails and Wine cancels
 * every wait, so the program would never hear of received bytes. Here the
 * four modem-line requests on a pty slave (character major 136 to 143)
 * succeed: the lines read CTS, DSR and CD on, DTR and RTS set, and setting or
 * clearing lines is accepted and forgotten. Every other request, and every
 * other descriptor, goes to the C library's ioctl untouched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int is_pty_slave(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real_ioctl)(int, unsigned long, ...);
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);
    if (!real_ioctl)
        real_ioctl = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");

    switch (request) {
    case TIOCMGET:
        if (!is_pty_slave(fd))
            break;
        *(int *)arg = TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_DTR | TIOCM_RTS;
        return 0;
    case TIOCMSET:
    case TIOCMBIS:
    case TIOCMBIC:
        if (!is_pty_slave(fd))
            break;
        return 0;
    default:
        break;
    }
    return real_ioctl(fd, request, arg);
}
