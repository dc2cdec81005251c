// Linked into every test program. No test finds instruments by broadcast or
// through the machine's own D-Bus system bus (whose Avahi daemon would ask
// the real network): the search is limited to USB/IP servers unless a test
// names its ways itself (a probe of 127.x.y.z, DNS-SD through a private
// daemon), and the system bus is one that is not there. Nor does a test see
// the instrument definitions of the user who runs it: the definition directory
// is one that is not there unless a test makes it. Set before main, so the
// simulators and quarvel-cli the tests start inherit it too.

#include <cstdlib>

namespace {

const bool kEnvironmentSet = [] {
    setenv("QUARVEL_DISCOVERY", "usb", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/quarvel-test-bus", 1);
    setenv("XDG_CONFIG_HOME", "/nonexistent/quarvel-test-config", 1);
    return true;
}();

} // namespace
