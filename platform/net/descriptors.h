// Descriptor numbers for the gateway's network servers: the limit raised, client sockets kept out
// of select()'s range.
#pragma once

// systemd starts a service with 1 024 descriptors as its soft limit; the hard limit is what the
// unit allows, and every held connection needs one. Raises the soft limit to the hard one and
// returns the soft limit now (capped at 2^30; 0 when it cannot be read).
long raiseDescriptorLimit();

// libmosquitto's loop waits with select(), which cannot take a descriptor from FD_SETSIZE
// (1 024) on: a broker connection made while network clients hold the low numbers would fail.
// So a server moves each client's socket above that range when there is room, leaving the low
// numbers to the rest of the gateway. Returns a close-on-exec duplicate of `fd` from FD_SETSIZE
// on, which the caller uses in place of `fd`; -1 when `fd` is already there or there is no room
// (the caller keeps `fd`).
int duplicateAboveSelectRange(int fd);
