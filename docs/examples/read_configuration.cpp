// Reading an ONCONFIG file, the agent's settings and its identity.
//
//   read_configuration ONCONFIG REGISTRY-DIR
//
// ONCONFIG like examples/onconfig.demo, REGISTRY-DIR like examples/registry.

#include <IfxLib/IfxLib.h>
#include <stdlib.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The bounded ReadFromOnconfig never writes past the buffer: a value that does not fit
// fails with ERANGE instead. errno also tells a parameter without a value (ENODATA) from
// one that no line names (ENOENT, which a missing file gives too).
std::string onconfigValue(const char* file, const char* name) {
    char value[1024];
    if (ReadFromOnconfig(file, name, value, sizeof value) != 0) {
        std::fprintf(stderr, "%s: %s\n", name, std::strerror(errno));
        return "";
    }
    return value;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ONCONFIG REGISTRY-DIR\n", argv[0]);
        return 2;
    }
    const char* onconfig = argv[1];
    // The registry's root is read at every call; agents get it from their environment.
    ::setenv("JX_REGISTRY_DIR", argv[2], 1);

    const std::string server = onconfigValue(onconfig, "DBSERVERNAME");
    const std::string tapes = onconfigValue(onconfig, "LTAPEDEV");
    std::printf("DBSERVERNAME %s\nLTAPEDEV %s\n", server.c_str(), tapes.c_str());

    // Items of the InformixAgent section, trimmed; a value that does not fit is a
    // failure, never cut.
    char user[256];
    const bool hasUser =
        GetRegistryItemValue("sIFXUSER", user, sizeof user, c_ifxSubKey, false) == 0;
    std::printf("sIFXUSER %s\n", hasUser ? user : "(not set)");

    // The agent's identity: with command-line arguments, "-cn" and "-vm" decide; with
    // none, JxClientName and JxInstanceName do.
    char agent[] = "agent";
    char clientOption[] = "-cn";
    char clientValue[] = "client1";
    char instanceOption[] = "-vm";
    char instanceValue[] = "vm1";
    char* agentArgv[] = {agent, clientOption, clientValue, instanceOption, instanceValue, nullptr};
    char client[128] = "";
    char instance[128] = "";
    const bool named = GetClientName(5, agentArgv, client, sizeof client) == 0 &&
                       GetInstanceName(5, agentArgv, instance, sizeof instance) == 0;
    // INFORMIXSERVER is read (and trimmed in the environment) by GetIfxSID.
    ::setenv("INFORMIXSERVER", server.c_str(), 1);
    std::string sid;
    const bool hasSid = GetIfxSID(sid) == 0;
    char temporary[4096];
    char logs[4096];
    const bool hasPaths = GetOrreryBaseTempPath(temporary, sizeof temporary) == 0 &&
                          GetOrreryLogFilesPath(logs, sizeof logs) == 0;
    std::printf("client %s, instance %s, server %s\ntemporary %s\nlogs %s\n", client, instance,
                sid.c_str(), hasPaths ? temporary : "?", hasPaths ? logs : "?");

    return !server.empty() && hasUser && named && hasSid && hasPaths ? 0 : 1;
}
