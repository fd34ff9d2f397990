#include "sysinfo/WmiConnection.h"

std::string_view wmiNamespacePath(WmiNamespace ns) {
    switch (ns) {
        case WmiNamespace::Cimv2: return "ROOT\\CIMV2";
        case WmiNamespace::Wmi: return "ROOT\\WMI";
    }
    return {};
}
