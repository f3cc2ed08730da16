// Exact line speeds through termios2. The kernel's termbits and the C library's termios.h
// define the same names differently, so this file sees only the kernel's.
#include "platform/SerialDevice.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace platform {

bool ReadExactSpeed(int fd, uint32_t& in, uint32_t& out) {
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    in = t.c_ispeed;
    out = t.c_ospeed;
    return true;
}

int SetExactSpeed(int fd, uint32_t baud, uint32_t& actualIn, uint32_t& actualOut) {
    actualIn = actualOut = 0;
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return -1;
    // A classic rate the termios settings already carry keeps its classic form, which every
    // other reader of the settings (stty, cfgetospeed) understands.
    if (t.c_ispeed == baud && t.c_ospeed == baud && (t.c_cflag & CBAUD) != BOTHER) {
        actualIn = actualOut = baud;
        return 0;
    }
    t.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    if (::ioctl(fd, TCSETS2, &t) != 0)
        return -1;
    if (!ReadExactSpeed(fd, actualIn, actualOut))
        return -1;
    return actualIn == baud && actualOut == baud ? 0 : 1;
}

} // namespace platform
