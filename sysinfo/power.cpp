#include "sysinfo/power.h"

#include "sysinfo/WmiConnection.h"

bool isOnBattery() {
    WmiConnection wmi;  // closed on every path when it goes out of scope
    if (!wmi.connect(WmiNamespace::Wmi)) return false;
    auto rows = wmi.execQuery("SELECT PowerOnLine FROM BatteryStatus");
    if (!rows) return false;
    // Only the first battery counts; no row means no battery.
    auto row = rows->next();
    if (!row) return false;
    const auto onLine = row->getBool("PowerOnLine");
    return onLine.has_value() && !*onLine;
}
