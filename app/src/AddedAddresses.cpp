#include "AddedAddresses.h"

#include "velto/VeltoServer.h"

namespace velto::app {

std::string AddedAddresses::add(VeltoServer& server, const std::string& address) const {
    return change(server, address, true);
}

std::string AddedAddresses::forget(VeltoServer& server, const std::string& address) const {
    return change(server, address, false);
}

std::string AddedAddresses::change(VeltoServer& server, const std::string& address,
                                   bool adding) const {
    std::vector<std::string> addresses;
    std::string problem;
    const bool written = file_.update(
        [&](Settings& settings) {
            if (adding) {
                settings.addAddress(address);
            } else {
                settings.forgetAddress(address);
            }
            addresses = settings.addedAddresses();
        },
        &problem);
    if (!written) {
        // The file stays as it was; this run still greets (or stops greeting) the address.
        addresses = server.addedAddresses();
        std::erase(addresses, address);
        if (adding) {
            addresses.push_back(address);
        }
    }
    server.setAddedAddresses(addresses);
    return problem;
}

}  // namespace velto::app
