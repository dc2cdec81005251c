#pragma once

// The factories and listers of the built-in transports, listed in the
// transport table (transport_table.cpp) beside the resource forms they open
// (resource_forms.h).

#include "visa/resource_name.h"
#include "visa/transport.h"

namespace quarvel::visa {

ViStatus OpenVxi11Transport(const ResourceName& name, const SessionSettings& settings,
                            std::unique_ptr<ITransport>& transport);
// VXI-11 instruments by GETPORT over UDP: broadcast and probe (discovery_vxi11.cpp).
void FindVxi11Resources(const SessionSettings& settings, Deadline deadline,
                        std::vector<std::string>& found);
// HiSLIP, VXI-11 and raw socket services announced by DNS-SD, through the
// Avahi daemon (discovery_dnssd.cpp).
void FindDnssdResources(const SessionSettings& settings, Deadline deadline,
                        std::vector<std::string>& found);

ViStatus OpenHislipTransport(const ResourceName& name, const SessionSettings& settings,
                             std::unique_ptr<ITransport>& transport);
// A HiSLIP session on two channels whose opening handshake is done (the
// fuzzer's way in; everyone else opens through OpenHislipTransport).
class TcpConnection;
std::unique_ptr<ITransport> MakeHislipTransport(std::unique_ptr<TcpConnection> sync,
                                                std::unique_ptr<TcpConnection> async,
                                                std::uint16_t version);

ViStatus OpenSocketTransport(const ResourceName& name, const SessionSettings& settings,
                             std::unique_ptr<ITransport>& transport);

ViStatus OpenUsbTransport(const ResourceName& name, const SessionSettings& settings,
                          std::unique_ptr<ITransport>& transport);
// USBTMC devices on the USB/IP servers and on this machine (usb_discovery.cpp).
void FindUsbResources(const SessionSettings& settings, Deadline deadline,
                      std::vector<std::string>& found);

} // namespace quarvel::visa
