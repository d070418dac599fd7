// vrmsim: the VRM simulator as a program. Serves until SIGINT or SIGTERM.

#include <signal.h>
#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <string>

#include "VrmSimulator.h"

namespace {

bool SplitListen(const std::string& listen, std::string& host, int& port) {
    auto colon = listen.rfind(':');
    if (colon == std::string::npos) return false;
    host = listen.substr(0, colon);
    try {
        port = std::stoi(listen.substr(colon + 1));
    } catch (const std::exception&) {
        return false;
    }
    return !host.empty() && port >= 0 && port <= 65535;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vrmsim - a stateful HTTPS simulator of a FusionCompute VRM"};
    app.set_version_flag("--version", std::string("vrmsim ") + VRMSIM_VERSION);
    vrmsim::Options options;
    std::string listen = "127.0.0.1:0";
    std::string portFile;
    std::string certificate = "valid";
    auto& inv = options.inventory;
    app.add_option("--listen", listen, "address:port to listen on (port 0 picks a free one)")
        ->capture_default_str();
    app.add_option("--port-file", portFile, "file that receives the port number once listening");
    app.add_option("--cert-dir", options.certDir,
                   "directory of ca.pem, server.pem, server.key (made when missing)")
        ->required();
    app.add_option("--host-name", options.hostName, "host name of the server certificate")
        ->capture_default_str();
    app.add_option("--user", options.user, "accepted user name")->capture_default_str();
    app.add_option("--password", options.password, "accepted password");
    app.add_option("--page-size", options.pageSize, "most objects in one list page")->capture_default_str();
    app.add_option("--token-lifetime", options.tokenLifetimeSeconds,
                   "session token lifetime in seconds (0: never)")
        ->capture_default_str();
    app.add_option("--threads", options.workerThreads, "server threads")->capture_default_str();
    app.add_option("--certificate", certificate, "valid, wronghost, expired or unknownca")
        ->check(CLI::IsMember({"valid", "wronghost", "expired", "unknownca"}))
        ->capture_default_str();
    app.add_option("--seed", inv.seed, "seed of the inventory")->capture_default_str();
    app.add_option("--sites", inv.sites, "sites")->capture_default_str();
    app.add_option("--clusters", inv.clusters, "clusters")->capture_default_str();
    app.add_option("--hosts", inv.hosts, "hosts")->capture_default_str();
    app.add_option("--vms", inv.vms, "virtual machines")->capture_default_str();
    app.add_option("--templates", inv.templates, "VM templates")->capture_default_str();
    app.add_option("--datastores", inv.datastores, "datastores")->capture_default_str();
    app.add_option("--disks-per-vm", inv.disksPerVm, "disks of each VM")->capture_default_str();
    app.add_option("--nics-per-vm", inv.nicsPerVm, "NICs of each VM")->capture_default_str();
    app.add_option("--dvswitches", inv.dvSwitches, "distributed switches")->capture_default_str();
    app.add_option("--portgroups", inv.portGroupsPerSwitch, "port groups per switch")->capture_default_str();
    app.add_option("--vm-folders", inv.vmFolders, "VM folders")->capture_default_str();
    app.add_option("--cluster-folders", inv.clusterFolders, "cluster folders")->capture_default_str();
    app.add_option("--storage-resources", inv.storageResources, "extra storage resources")
        ->capture_default_str();
    app.add_option("--snapshot-vms", inv.vmsWithSnapshots, "VMs with a seeded snapshot tree")
        ->capture_default_str();
    CLI11_PARSE(app, argc, argv);

    if (!SplitListen(listen, options.listenHost, options.port)) {
        std::cerr << "vrmsim: --listen needs address:port, got " << listen << "\n";
        return 2;
    }
    static const std::map<std::string, vrmsim::CertificateKind> kKinds = {
        {"valid", vrmsim::CertificateKind::Valid},
        {"wronghost", vrmsim::CertificateKind::WrongHost},
        {"expired", vrmsim::CertificateKind::Expired},
        {"unknownca", vrmsim::CertificateKind::UnknownCa}};
    options.certificate = kKinds.at(certificate);

    // Block the stop signals before any server thread starts, so only sigwait below receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    vrmsim::Simulator simulator(options);
    if (!simulator.Start()) {
        std::cerr << "vrmsim: " << simulator.LastError() << "\n";
        return 1;
    }
    std::cout << "vrmsim listening on " << options.listenHost << ":" << simulator.Port() << " (site "
              << simulator.SiteUrn() << ", CA " << simulator.CaFile() << ")" << std::endl;
    if (!portFile.empty()) {
        // Written through a rename so a script polling for the file never reads it half written.
        std::string temp = portFile + ".tmp";
        {
            std::ofstream out(temp);
            out << simulator.Port() << "\n";
        }
        if (std::rename(temp.c_str(), portFile.c_str()) != 0) {
            std::cerr << "vrmsim: cannot write " << portFile << "\n";
            return 1;
        }
    }
    int received = 0;
    sigwait(&stopSignals, &received);
    std::cout << "vrmsim stopping (signal " << received << ")" << std::endl;
    simulator.Stop();
    return 0;
}
