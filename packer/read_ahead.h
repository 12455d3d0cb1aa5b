// The product's files read on a second thread while the encoder works on the
// bytes read before: with many small files, or files on a slow disk, opening
// and reading no longer adds to the encoder's time.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include <functional>

using ByteFeed = std::function<void(const uint8_t* bytes, size_t size)>;

// Runs produce on a second thread and hands what it feeds to consume on the
// calling thread, in the same order, in pieces of up to 256 KiB. What
// either of them throws is thrown here, after the other has stopped.
void ReadAhead(const std::function<void(const ByteFeed& feed)>& produce, const ByteFeed& consume);
