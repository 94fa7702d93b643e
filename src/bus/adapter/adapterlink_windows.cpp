// Byte links to "++" adapters on Windows: COM ports and TCP connections through the Win32 API.
#include "adapterlink.h"
#include "bus/windowstext.h"

// winsock2.h must come before windows.h, which would otherwise bring in the old winsock.h.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>

namespace ktq::bus {

namespace {

// How long a TCP connection may take to be accepted before the adapter counts as unreachable.
constexpr int connectTimeoutMs = 5000;
// The device class of serial and parallel ports (devguid.h's GUID_DEVCLASS_PORTS, which mingw's
// import libraries do not define).
constexpr GUID portsClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
// The quiet after the first bytes that ends a read: a USB serial chip passes on what it holds
// in one go, so a reply's pieces come closer together than this.
constexpr DWORD readIntervalMs = 5;
// A write to a COM port that takes longer than this has a port that no longer drains: gone.
constexpr DWORD serialWriteTimeoutMs = 5000;

std::string upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// "COM5", "com5" and "\\.\COM5" all name COM5; the device path is what opens COM10 and above.
std::string portName(const std::string& port) {
    const std::string prefix = "\\\\.\\";
    return upper(port.rfind(prefix, 0) == 0 ? port.substr(prefix.size()) : port);
}

class SerialLink final : public AdapterLink {
public:
    SerialLink(HANDLE handle, std::string name) : m_handle(handle), m_name(std::move(name)) {}
    ~SerialLink() override { CloseHandle(m_handle); }

    std::string where() const override { return m_name; }

    bool write(std::string_view bytes) override {
        while (!bytes.empty()) {
            DWORD written = 0;
            if (!WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                written == 0)
                return false;
            bytes.remove_prefix(written);
        }
        return true;
    }

    std::string read(std::chrono::milliseconds wait, bool& gone) override {
        if (!setReadWait(wait)) {
            gone = true;
            return {};
        }
        char buffer[4096];
        DWORD count = 0;
        if (!ReadFile(m_handle, buffer, sizeof buffer, &count, nullptr)) {
            gone = true;
            return {};
        }
        return std::string(buffer, count);
    }

private:
    // A total constant with a short interval: ReadFile returns once the first bytes have come
    // and the line has been quiet for the interval, or with none after the constant. (Interval
    // and multiplier MAXDWORD would say the same on Windows, but wine then waits the whole
    // constant even when a byte came at once.) A zero wait (interval MAXDWORD, the rest 0) returns
    // what has arrived, even nothing.
    bool setReadWait(std::chrono::milliseconds wait) {
        const auto ms = static_cast<DWORD>(std::clamp<long long>(wait.count(), 0, MAXDWORD - 1));
        if (ms == m_readWaitMs)
            return true;
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = ms == 0 ? MAXDWORD : readIntervalMs;
        timeouts.ReadTotalTimeoutConstant = ms;
        timeouts.WriteTotalTimeoutConstant = serialWriteTimeoutMs;
        if (!SetCommTimeouts(m_handle, &timeouts))
            return false;
        m_readWaitMs = ms;
        return true;
    }

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::string m_name;
    DWORD m_readWaitMs = MAXDWORD; // none set yet
};

// Winsock is started once for the program and left running until it ends.
bool startWinsock(std::string& error) {
    static int result = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (result != 0)
        error = "Winsock did not start: " + systemMessage(static_cast<DWORD>(result));
    return result == 0;
}

class TcpLink final : public AdapterLink {
public:
    TcpLink(SOCKET socket, std::string where) : m_socket(socket), m_where(std::move(where)) {}
    ~TcpLink() override { closesocket(m_socket); }

    std::string where() const override { return m_where; }

    bool write(std::string_view bytes) override {
        while (!bytes.empty()) {
            const int sent = send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0);
            if (sent <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    std::string read(std::chrono::milliseconds wait, bool& gone) override {
        std::string bytes;
        // The first byte within the wait, then whatever else is already there.
        auto waitMs = std::clamp<long long>(wait.count(), 0, 24LL * 3600 * 1000);
        for (;;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(m_socket, &readable);
            timeval timeout{static_cast<long>(waitMs / 1000), static_cast<long>(waitMs % 1000 * 1000)};
            const int ready = select(0, &readable, nullptr, nullptr, &timeout);
            if (ready < 0) {
                gone = true;
                return bytes;
            }
            if (ready == 0)
                return bytes;
            char buffer[4096];
            const int received = recv(m_socket, buffer, sizeof buffer, 0);
            if (received <= 0) { // 0: the adapter closed the connection
                gone = true;
                return bytes;
            }
            bytes.append(buffer, static_cast<std::size_t>(received));
            waitMs = 0;
        }
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    std::string m_where;
};

// Connects within connectTimeoutMs; INVALID_SOCKET with `error` set when it could not.
SOCKET connectTo(const addrinfo& address, std::string& error) {
    SOCKET s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (s == INVALID_SOCKET) {
        error = systemMessage(static_cast<DWORD>(WSAGetLastError()));
        return INVALID_SOCKET;
    }
    u_long nonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nonBlocking);
    if (connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        const int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            error = systemMessage(static_cast<DWORD>(code));
            closesocket(s);
            return INVALID_SOCKET;
        }
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s, &writable);
        FD_SET(s, &failed);
        timeval timeout{connectTimeoutMs / 1000, connectTimeoutMs % 1000 * 1000};
        const int ready = select(0, nullptr, &writable, &failed, &timeout);
        int socketError = 0;
        int size = sizeof socketError;
        getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&socketError), &size);
        if (ready <= 0 || FD_ISSET(s, &failed) || socketError != 0) {
            error = ready == 0
                        ? "no answer within " + std::to_string(connectTimeoutMs / 1000) + " s"
                        : systemMessage(static_cast<DWORD>(socketError ? socketError : WSAGetLastError()));
            closesocket(s);
            return INVALID_SOCKET;
        }
    }
    u_long blocking = 0;
    ioctlsocket(s, FIONBIO, &blocking);
    // Each command is a short line answered before the next: Nagle's wait would hold every one.
    BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay), sizeof noDelay);
    return s;
}

// A registry string value, empty when absent.
std::wstring registryString(HKEY key, const wchar_t* name) {
    wchar_t buffer[256];
    DWORD size = sizeof buffer;
    DWORD type = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) !=
            ERROR_SUCCESS ||
        type != REG_SZ)
        return {};
    return std::wstring(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
}

// The ports the serial drivers have registered: "COM5" from each value of SERIALCOMM.
std::vector<std::string> registeredPorts() {
    std::vector<std::string> ports;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) !=
        ERROR_SUCCESS)
        return ports;
    for (DWORD index = 0;; ++index) {
        wchar_t name[256];
        DWORD nameSize = 256;
        wchar_t data[64];
        DWORD dataSize = sizeof data;
        DWORD type = 0;
        const LONG result = RegEnumValueW(key, index, name, &nameSize, nullptr, &type,
                                          reinterpret_cast<BYTE*>(data), &dataSize);
        if (result == ERROR_NO_MORE_ITEMS)
            break;
        if (result != ERROR_SUCCESS || type != REG_SZ)
            continue;
        ports.push_back(upper(toUtf8(std::wstring(data, wcsnlen(data, dataSize / sizeof(wchar_t))))));
    }
    RegCloseKey(key);
    return ports;
}

// USB identities and names of the ports the system knows as devices: "USB\VID_0403&PID_6001..."
// among a port's hardware ids gives its vendor and product.
std::map<std::string, SerialPortInfo> describedPorts() {
    std::map<std::string, SerialPortInfo> described;
    HDEVINFO devices = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return described;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        HKEY key = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (key == INVALID_HANDLE_VALUE)
            continue;
        SerialPortInfo info;
        info.name = upper(toUtf8(registryString(key, L"PortName")));
        RegCloseKey(key);
        if (info.name.rfind("COM", 0) != 0)
            continue;
        wchar_t text[1024] = {};
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                              reinterpret_cast<BYTE*>(text), sizeof text - sizeof(wchar_t),
                                              nullptr))
            info.description = toUtf8(text);
        wchar_t ids[1024] = {};
        if (SetupDiGetDeviceRegistryPropertyW(devices, &device, SPDRP_HARDWAREID, nullptr,
                                              reinterpret_cast<BYTE*>(ids), sizeof ids - 2 * sizeof(wchar_t),
                                              nullptr)) {
            const std::string id = upper(toUtf8(ids)); // the first of the list is enough
            const auto vid = id.find("VID_");
            const auto pid = id.find("PID_");
            if (vid != std::string::npos && pid != std::string::npos) {
                unsigned vendor = 0;
                unsigned product = 0;
                if (std::sscanf(id.c_str() + vid + 4, "%4x", &vendor) == 1 &&
                    std::sscanf(id.c_str() + pid + 4, "%4x", &product) == 1) {
                    info.vendorId = static_cast<int>(vendor);
                    info.productId = static_cast<int>(product);
                }
            }
        }
        described[info.name] = info;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return described;
}

HANDLE openPort(const std::string& name) {
    const std::wstring path = toWide("\\\\.\\" + name);
    return CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class SystemLinkOpener final : public LinkOpener {
public:
    std::vector<SerialPortInfo> serialPorts() override {
        std::vector<std::string> names = registeredPorts();
        if (names.empty()) {
            // No serial driver registered its ports (as under wine): the ones that open are there.
            for (int n = 1; n <= 32; ++n) {
                const std::string name = "COM" + std::to_string(n);
                HANDLE handle = openPort(name);
                if (handle != INVALID_HANDLE_VALUE) {
                    CloseHandle(handle);
                    names.push_back(name);
                }
            }
        }
        // COM2 before COM10, as the system lists them to an operator.
        std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
            return a.size() != b.size() ? a.size() < b.size() : a < b;
        });
        names.erase(std::unique(names.begin(), names.end()), names.end());
        const std::map<std::string, SerialPortInfo> described = describedPorts();
        std::vector<SerialPortInfo> ports;
        for (const std::string& name : names) {
            const auto found = described.find(name);
            SerialPortInfo info;
            info.name = name;
            ports.push_back(found != described.end() ? found->second : info);
        }
        return ports;
    }

    std::unique_ptr<AdapterLink> openSerial(const std::string& port, std::string& error) override {
        const std::string name = portName(port);
        HANDLE handle = openPort(name);
        if (handle == INVALID_HANDLE_VALUE) {
            error = systemMessage(GetLastError());
            return nullptr;
        }
        // 115200 8N1 without flow control: what a USB adapter takes (it ignores the rate) and
        // what an AR488's sketch is built for. DTR on, so an Arduino sees a host and starts.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle, &dcb)) {
            error = systemMessage(GetLastError());
            CloseHandle(handle);
            return nullptr;
        }
        dcb.BaudRate = CBR_115200;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        if (!SetCommState(handle, &dcb)) {
            error = systemMessage(GetLastError());
            CloseHandle(handle);
            return nullptr;
        }
        return std::make_unique<SerialLink>(handle, name);
    }

    std::unique_ptr<AdapterLink> openTcp(const std::string& host, int port, std::string& error) override {
        if (!startWinsock(error))
            return nullptr;
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        addrinfo* addresses = nullptr;
        const std::string service = std::to_string(port);
        if (const int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &addresses); code != 0) {
            error = "cannot find " + host + ": " + systemMessage(static_cast<DWORD>(code));
            return nullptr;
        }
        SOCKET connected = INVALID_SOCKET;
        for (const addrinfo* address = addresses; address && connected == INVALID_SOCKET;
             address = address->ai_next)
            connected = connectTo(*address, error);
        freeaddrinfo(addresses);
        if (connected == INVALID_SOCKET)
            return nullptr;
        error.clear();
        return std::make_unique<TcpLink>(connected, host + ":" + service);
    }
};

} // namespace

std::unique_ptr<LinkOpener> makeSystemLinkOpener() {
    return std::make_unique<SystemLinkOpener>();
}

} // namespace ktq::bus
