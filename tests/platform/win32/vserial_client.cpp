// Test-side client of the virtual serial line server (see vserial_client.h).
#include "tests/platform/win32/vserial_client.h"

#include <winsock2.h>

#include <cstdlib>

VirtualSerialClient::VirtualSerialClient() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const char* port = std::getenv("QUORVEL_VSERIAL");
    if (!port) return;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(port)));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        closesocket(s);
        return;
    }
    socket_ = s;
}

VirtualSerialClient::~VirtualSerialClient() {
    if (socket_ != kNoSocket) closesocket(static_cast<SOCKET>(socket_));
    WSACleanup();
}

bool VirtualSerialClient::Write(int port, const std::string& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return Command("write " + std::to_string(port) + " " + hex);
}

bool VirtualSerialClient::Command(const std::string& line) {
    if (socket_ == kNoSocket) return false;
    const SOCKET s = static_cast<SOCKET>(socket_);
    const std::string out = line + "\n";
    if (send(s, out.data(), static_cast<int>(out.size()), 0) != static_cast<int>(out.size())) {
        return false;
    }
    std::string reply;
    char c = 0;
    while (recv(s, &c, 1, 0) == 1 && c != '\n') reply += c;
    return reply == "ok";
}
