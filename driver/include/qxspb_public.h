/*
 * QXVeltrane's user-mode interface: the names the driver publishes and the
 * control codes it answers. The driver includes this header, and so does
 * everything in user mode that talks to the device (the daemon's transport,
 * the simulations' user-mode handles, the test doubles that stand in for the
 * driver), so that the interface is written down once.
 *
 * Freestanding: it includes nothing and needs nothing beyond the C
 * preprocessor, so it builds in the kernel (WDK or MinGW's DDK), in Win32
 * user mode and on the host, from C and from C++. CTL_CODE lives in
 * <winioctl.h> in user mode and <ntddk.h> in the kernel, and neither exists
 * on the host; the codes are therefore composed here in CTL_CODE's layout,
 * and checked against CTL_CODE itself wherever it is in scope.
 */
#ifndef QXSPB_PUBLIC_H
#define QXSPB_PUBLIC_H

/* The device as user mode opens it (CreateFile), and the symbolic link the
 * driver creates for it; names inside the device's namespace follow the
 * path after a backslash. */
#define QXSPB_DEVICE_PATH "\\\\.\\QXSPB"
#define QXSPB_DEVICE_PATH_W L"\\\\.\\QXSPB"
#define QXSPB_LINK_NAME_W L"\\DosDevices\\QXSPB"

/* The device type and the function codes are the ones the driver has always
 * answered (both below the ranges Windows leaves to vendors, 0x8000 and
 * 0x800; daemons in the field send them, so they stay). Every code is
 * METHOD_BUFFERED and FILE_ANY_ACCESS: the device's security descriptor, not
 * the code, decides who may use it. */
#define QXSPB_DEVICE_TYPE 0x473u
#define QXSPB_METHOD_BUFFERED 0u
#define QXSPB_FILE_ANY_ACCESS 0u

/* CTL_CODE(QXSPB_DEVICE_TYPE, fn, METHOD_BUFFERED, FILE_ANY_ACCESS). */
#define QXSPB_CTL(fn) \
    ((QXSPB_DEVICE_TYPE << 16) | (QXSPB_FILE_ANY_ACCESS << 14) | ((unsigned)(fn) << 2) | QXSPB_METHOD_BUFFERED)

#define IOCTL_QXSPB_OPEN QXSPB_CTL(0x780)
#define IOCTL_QXSPB_CLOSE QXSPB_CTL(0x781)
#define IOCTL_QXSPB_LOCK QXSPB_CTL(0x782)
#define IOCTL_QXSPB_UNLOCK QXSPB_CTL(0x783)
#define IOCTL_QXSPB_WRITE_READ QXSPB_CTL(0x784)
#define IOCTL_QXSPB_LOCK_CONNECTION QXSPB_CTL(0x785)
#define IOCTL_QXSPB_UNLOCK_CONNECTION QXSPB_CTL(0x786)
#define IOCTL_QXSPB_SIGNAL_INTERRUPT QXSPB_CTL(0x787)
#define IOCTL_QXSPB_WAIT_ON_INTERRUPT QXSPB_CTL(0x788)
#define IOCTL_QXSPB_FULL_DUPLEX QXSPB_CTL(0x789)

/* The values drivers and daemons in the field agree on. */
#if defined(__cplusplus)
#define QXSPB_STATIC_ASSERT(e, m) static_assert(e, m)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define QXSPB_STATIC_ASSERT(e, m) _Static_assert(e, m)
#endif
#if defined(QXSPB_STATIC_ASSERT)
QXSPB_STATIC_ASSERT(IOCTL_QXSPB_OPEN == 0x04731E00u, "open code");
QXSPB_STATIC_ASSERT(IOCTL_QXSPB_FULL_DUPLEX == 0x04731E24u, "full-duplex code");
#if defined(CTL_CODE) && defined(METHOD_BUFFERED) && defined(FILE_ANY_ACCESS)
QXSPB_STATIC_ASSERT(IOCTL_QXSPB_OPEN == CTL_CODE(QXSPB_DEVICE_TYPE, 0x780, METHOD_BUFFERED, FILE_ANY_ACCESS),
                    "the codes follow CTL_CODE");
QXSPB_STATIC_ASSERT(IOCTL_QXSPB_FULL_DUPLEX == CTL_CODE(QXSPB_DEVICE_TYPE, 0x789, METHOD_BUFFERED, FILE_ANY_ACCESS),
                    "the codes follow CTL_CODE");
#endif
#undef QXSPB_STATIC_ASSERT
#endif

#endif /* QXSPB_PUBLIC_H */
