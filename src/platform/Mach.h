#pragma once

// The few Mach port calls the device link makes.

#include <cstdint>

typedef int kern_return_t;
typedef unsigned int natural_t;
typedef natural_t mach_port_t;
typedef mach_port_t mach_port_name_t;
typedef mach_port_t ipc_space_t;

#define MACH_PORT_NULL ((mach_port_t) 0)
#define KERN_SUCCESS 0
#define KERN_INVALID_ARGUMENT 4
#define KERN_INVALID_NAME 15

/** The task port of this process. */
mach_port_t mach_task_self();
/** Gives back a port obtained from IOMasterPort. */
kern_return_t mach_port_deallocate (ipc_space_t task, mach_port_name_t name);
