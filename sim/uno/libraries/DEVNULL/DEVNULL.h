// A stream that takes everything written to it and never has anything to read, under the name
// the AR488 firmware 0.51.09 includes (a library it expects the Arduino IDE to have installed)
// for its debug port while debugging is off.
#pragma once

#include <Arduino.h>

class DEVNULL : public Stream {
public:
    DEVNULL() { setTimeout(0); }
    int available() override { return 0; }
    int peek() override { return -1; }
    int read() override { return -1; }
    void flush() override {}
    size_t write(uint8_t) override { return 1; }
    size_t write(const uint8_t*, size_t size) override { return size; }
};
