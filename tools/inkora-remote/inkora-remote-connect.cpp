// Starting the agent: directly as a child over pipes, or through the
// ica-pipe plug-in. For the plug-in route this program starts a second copy
// of itself as the child; that copy plays the Citrix client with the client
// harness (it loads the plug-in, opens the channel, which starts the agent,
// and relays its standard input and output to the channel), so the bytes
// pass the whole chain: client -> plug-in -> agent -> pad and back.
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "ica-harness.h"
#include "inkora-remote.h"

namespace inkora::tool {
namespace {

// Set in the environment of the relay copy: the plug-in it must load.
constexpr const char* kRelayVariable = "INKORA_REMOTE_RELAY_PLUGIN";

bool write_all(int fd, const uint8_t* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

int relay(const std::string& plugin) {
    inkora::harness::IcaClient client;
    std::string error;
    if (!client.load(plugin, &error)) {
        std::fprintf(stderr, "inkora-remote: cannot load the plug-in %s: %s\n", plugin.c_str(), error.c_str());
        return kExitNoAgent;
    }
    if (!client.moduleInfo()) {
        std::fprintf(stderr, "inkora-remote: %s does not describe itself as a virtual-channel driver\n",
                     plugin.c_str());
        return kExitNoAgent;
    }
    if (const int result = client.open(); result != 0) {
        std::fprintf(stderr, "inkora-remote: the plug-in %s did not open its channel (%d)\n", plugin.c_str(), result);
        return kExitNoAgent;
    }
    std::array<uint8_t, 4096> buffer{};
    bool output_ok = true;
    for (;;) {
        pollfd input{STDIN_FILENO, POLLIN, 0};
        const int ready = ::poll(&input, 1, 1);
        if (ready > 0) {
            const ssize_t n = read(STDIN_FILENO, buffer.data(), buffer.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break; // the remote side has gone: close the channel as the client does
            client.deliver(buffer.data(), static_cast<size_t>(n));
        }
        client.poll();
        const std::vector<uint8_t> bytes = client.takeReceived();
        if (!bytes.empty() && !write_all(STDOUT_FILENO, bytes.data(), bytes.size())) {
            output_ok = false;
            break;
        }
    }
    client.close();
    client.unload();
    return output_ok ? kExitOk : kExitFailed;
}

} // namespace

std::optional<int> run_relay_if_asked() {
    const char* plugin = std::getenv(kRelayVariable);
    if (plugin == nullptr)
        return std::nullopt;
    const std::string path = plugin;
    unsetenv(kRelayVariable); // not for the agent
    return relay(path);
}

std::optional<Connection> connect(const GlobalOptions& options, int& exit_code) {
    exit_code = kExitNoAgent;
    if (access(options.agent.c_str(), X_OK) != 0) {
        const int error = errno;
        std::fprintf(stderr, "inkora-remote: cannot start the agent %s: %s\n", options.agent.c_str(),
                     std::strerror(error));
        std::fprintf(stderr, "inkora-remote: give the agent's path with --agent PATH%s\n",
                     options.agent == kDefaultAgent ? " (the default is the installed path)" : "");
        return std::nullopt;
    }
    inkora::peer::AgentOptions agent;
    agent.executable = options.agent;
    if (!options.simulated.empty())
        agent.environment.emplace_back("INKORA_SIMULATED_PADS", options.simulated);
    if (!options.trace.empty()) {
        // The trace file name is a template relative to the log location.
        std::string directory = ".";
        std::string name = options.trace;
        if (const auto slash = name.rfind('/'); slash != std::string::npos) {
            directory = slash == 0 ? "/" : name.substr(0, slash);
            name = name.substr(slash + 1);
        }
        agent.environment.emplace_back("INKORA_TRACE", "1");
        agent.environment.emplace_back("INKORA_DEBUG_LOCATION", directory + "/");
        agent.environment.emplace_back("INKORA_TRACE_FILE", name);
    }
    if (!options.plugin.empty()) {
        if (access(options.plugin.c_str(), R_OK) != 0) {
            const int error = errno;
            std::fprintf(stderr, "inkora-remote: cannot load the plug-in %s: %s\n", options.plugin.c_str(),
                         std::strerror(error));
            return std::nullopt;
        }
        // This program again, as the Citrix client; the plug-in starts the agent.
        agent.environment.emplace_back(kRelayVariable, options.plugin);
        agent.environment.emplace_back("INKORA_ICA_PIPE_EXEC", options.agent);
        agent.executable = options.self;
    }
    Connection connection;
    connection.peer = std::make_unique<inkora::peer::RemotePeer>(std::move(agent));
    if (!connection.peer->started()) {
        std::fprintf(stderr, "inkora-remote: cannot start %s: %s\n",
                     options.plugin.empty() ? options.agent.c_str() : options.self.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    // The version exchange tells that the agent runs and speaks the protocol.
    inkora::peer::Message hello = inkora::peer::make_version(2, 0, 0, 1);
    if (hello)
        connection.peer->send(*hello);
    // Waited for in slices: a child that has already exited (a wrong
    // program, a plug-in that failed) ends the wait at once. WNOWAIT leaves
    // the child for the peer to collect.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!connection.version && std::chrono::steady_clock::now() < deadline) {
        connection.version = connection.peer->wait_for(INKORA_MESSAGE_VERSION_INFO, std::chrono::milliseconds(50));
        siginfo_t info{};
        if (!connection.version &&
            waitid(P_PID, static_cast<id_t>(connection.peer->pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == connection.peer->pid())
            break;
    }
    if (!connection.version) {
        const int status = connection.peer->close_and_wait(std::chrono::seconds(2));
        std::fprintf(stderr, "inkora-remote: the agent %s%s%s did not answer", options.agent.c_str(),
                     options.plugin.empty() ? "" : " started by the plug-in ", options.plugin.c_str());
        if (status >= 0)
            std::fprintf(stderr, " (it exited with status %d)", status);
        std::fputs("\n", stderr);
        return std::nullopt;
    }
    exit_code = kExitOk;
    return connection;
}

} // namespace inkora::tool
