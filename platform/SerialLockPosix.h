#pragma once
// What other programs use to claim a serial device on POSIX systems, beside our own
// flock: the lock files of the UUCP convention (LCK..<name> holding the holder's pid, in
// /run/lock or /var/lock; TESSARIN_LOCK_DIR overrides, for tests), and the device held
// open by another process. A terminal program or a script that holds a port without any
// lock would otherwise split the byte stream with us. Used by the POSIX serial port and
// probe only; any thread.

#include <string>

// True when a live process other than this one holds a lock file for the device, or when
// another process holds the device open. A pseudo-terminal's far end (the process that
// holds its master, such as a simulator that keeps its own end open) is the device
// itself, not another user. A stale lock file, whose process is gone, is removed.
bool IsSerialDeviceHeld(const std::string& devicePath);

// True while a port of this process holds the device (locked and not yet unlocked): its
// own capture, which IsSerialDeviceHeld leaves out.
bool IsSerialDeviceLockedHere(const std::string& devicePath);

// Makes the device's lock file with this process's pid. False when another live process
// holds one. Where the lock folder cannot be written, no lock is made and the result is
// true: the exclusive open still keeps other programs of ours out.
bool LockSerialDevice(const std::string& devicePath);
// Removes this process's lock file of the device.
void UnlockSerialDevice(const std::string& devicePath);
