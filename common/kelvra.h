/* The port-access driver both libraries hold open.
 *
 * On Windows a kernel-mode driver exposes the device below; while a process
 * holds a handle from a successful open of it, the process may execute port
 * instructions. Without it a port instruction raises a privileged-instruction
 * fault and kills the application, which is why neither library touches a
 * port outside that span. On Linux the same right comes from the kernel
 * (ioperm/iopl, CAP_SYS_RAWIO); the platform layer maps the open of this name
 * onto it. */
#ifndef DAQ_COMMON_KELVRA_H
#define DAQ_COMMON_KELVRA_H

#define KELVRA_DEVICE_NAME "\\\\.\\kelvra"

#endif
