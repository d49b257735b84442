// Test-side client of tests/e2e/vserial.py: makes, feeds and pulls the
// virtual serial lines that Wine shows as COMn, over the local socket that
// run_with_vserial.py names in QUORVEL_VSERIAL. Kept free of Windows headers,
// whose macros would shadow the seam's constants in the tests.
#pragma once

#include <cstdint>
#include <string>

class VirtualSerialClient {
  public:
    VirtualSerialClient();
    ~VirtualSerialClient();
    VirtualSerialClient(const VirtualSerialClient&) = delete;
    VirtualSerialClient& operator=(const VirtualSerialClient&) = delete;

    bool Available() const { return socket_ != kNoSocket; }
    bool Open(int port) { return Command("open " + std::to_string(port)); }
    bool Close(int port) { return Command("close " + std::to_string(port)); }
    bool Write(int port, const std::string& bytes);

  private:
    static constexpr std::uintptr_t kNoSocket = ~std::uintptr_t{0};
    bool Command(const std::string& line);
    std::uintptr_t socket_ = kNoSocket;
};
