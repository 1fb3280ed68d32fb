// The platform's reader-writer lock, made in storage its owner provides, so a
// public class can hold one by value without the platform's headers.
#pragma once

#include <cstddef>

namespace krerrlog {

// Big and aligned enough for the platform's lock (checked where it is built).
constexpr std::size_t kReadWriteLockBytes = 56;
constexpr std::size_t kReadWriteLockAlignment = 8;

// A waiting writer goes before readers that arrive after it.
void ReadWriteLockInit(void* storage);
void ReadWriteLockDestroy(void* storage);
void ReadWriteLockRead(void* storage);
void ReadWriteLockWrite(void* storage);
void ReadWriteLockUnlock(void* storage);

}  // namespace krerrlog
