#pragma once

// True only when the machine positively reports that it runs on battery: the first
// battery of "ROOT\WMI" says it is not on line power. Any failure, and a machine
// without a battery, gives false.
bool isOnBattery();
