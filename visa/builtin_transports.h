#pragma once

// The factories and field checks of the built-in transports, one pair per
// transport source file, listed in the transport table (resource_name.cpp).

#include "visa/resource_name.h"

namespace quarvel::visa {

bool InterpretVxi11Fields(ResourceName& name);
ViStatus OpenVxi11Transport(const ResourceName& name, const SessionSettings& settings,
                            std::unique_ptr<ITransport>& transport);

bool InterpretSocketFields(ResourceName& name);
ViStatus OpenSocketTransport(const ResourceName& name, const SessionSettings& settings,
                             std::unique_ptr<ITransport>& transport);

} // namespace quarvel::visa
