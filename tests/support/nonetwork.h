#ifndef NONETWORK_H
#define NONETWORK_H

class QString;

// For tests that run outside a private network namespace, on whatever host they are started:
// from the call on, this process (and every thread and child it makes) cannot create an IPv4,
// IPv6 or packet socket; socket() fails with EPERM. A test that reached the engine by mistake
// then finds the port refused instead of sending on a real network.
namespace NoNetwork {

// True once the rule is in force; false with the reason when the kernel refuses it.
bool forbidInternetSockets(QString *why);

} // namespace NoNetwork

#endif // NONETWORK_H
