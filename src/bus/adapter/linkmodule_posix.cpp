// Loading the Linux links to "++" adapters from their module, at the first call that needs them.
#include "bus/sharedlibrary.h"
#include "linkmodule.h"

#include <filesystem>
#include <mutex>
#include <utility>

#define KTQ_TEXT_OF(name) #name
#define KTQ_TEXT(name) KTQ_TEXT_OF(name)

namespace ktq::bus {

namespace {

constexpr const char* moduleEntry = KTQ_TEXT(KTQ_LINK_MODULE_ENTRY);

// Keeps a library opened here for the rest of the process (see openLinkModule), where the leak
// checker sees it reachable.
void keep(std::unique_ptr<SharedLibrary> library) {
    static std::mutex mutex;
    static auto* kept = new std::vector<std::unique_ptr<SharedLibrary>>;
    const std::lock_guard lock(mutex);
    kept->push_back(std::move(library));
}

class ModuleLinkOpener final : public LinkOpener {
public:
    explicit ModuleLinkOpener(std::function<LinkOpenerFactory(std::string&)> load)
        : m_load(std::move(load)) {}

    std::string whyUnusable() override {
        loaded();
        return m_failure;
    }
    std::vector<SerialPortInfo> serialPorts() override {
        LinkOpener* opener = loaded();
        return opener ? opener->serialPorts() : std::vector<SerialPortInfo>{};
    }
    std::unique_ptr<AdapterLink> openSerial(const std::string& port, std::string& error) override {
        LinkOpener* opener = loaded();
        if (!opener) {
            error = m_failure;
            return nullptr;
        }
        return opener->openSerial(port, error);
    }
    std::unique_ptr<AdapterLink> openTcp(const std::string& host, int port, std::string& error) override {
        LinkOpener* opener = loaded();
        if (!opener) {
            error = m_failure;
            return nullptr;
        }
        return opener->openTcp(host, port, error);
    }

private:
    LinkOpener* loaded() {
        if (m_load) {
            if (const LinkOpenerFactory factory = m_load(m_failure)) {
                m_opener.reset(factory());
            }
            m_load = nullptr;
        }
        return m_opener.get();
    }

    std::function<LinkOpenerFactory(std::string&)> m_load;
    std::unique_ptr<LinkOpener> m_opener;
    std::string m_failure;
};

// The program's module, loaded once for the process: the first search for an adapter pays for
// it, and a module that is not there is not looked for at every Configure.
LinkOpenerFactory systemLinkModule(std::string& failure) {
    struct Loaded {
        LinkOpenerFactory factory = nullptr;
        std::string failure;
    };
    static const Loaded loaded = [] {
        Loaded module;
        module.factory = openLinkModule(linkModuleCandidates(), module.failure);
        return module;
    }();
    failure = loaded.failure;
    return loaded.factory;
}

} // namespace

std::vector<std::string> linkModuleCandidates() {
    std::vector<std::string> candidates;
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        candidates.push_back(
            (program.parent_path() / KTQ_LINK_MODULE_DIR / KTQ_LINK_MODULE_FILE).lexically_normal().string());
    }
    candidates.emplace_back(KTQ_LINK_MODULE_FILE);
    return candidates;
}

LinkOpenerFactory openLinkModule(std::span<const std::string> candidates, std::string& failure) {
    std::string failures;
    for (const std::string& candidate : candidates) {
        std::string error;
        std::unique_ptr<SharedLibrary> library = SharedLibrary::open(candidate, error);
        if (!library) {
            noteFailure(failures, candidate, error);
            continue;
        }
        const auto factory = reinterpret_cast<LinkOpenerFactory>(library->symbol(moduleEntry));
        if (!factory) {
            noteFailure(failures, candidate, std::string("lacks ") + moduleEntry + ", this version's entry");
            continue;
        }
        keep(std::move(library));
        return factory;
    }
    failure = "the program's serial port and network links cannot be loaded: looked for " + failures;
    return nullptr;
}

std::unique_ptr<LinkOpener>
makeModuleLinkOpener(std::function<LinkOpenerFactory(std::string& failure)> load) {
    return std::make_unique<ModuleLinkOpener>(std::move(load));
}

std::unique_ptr<LinkOpener> makeSystemLinkOpener() {
    return makeModuleLinkOpener(&systemLinkModule);
}

} // namespace ktq::bus
