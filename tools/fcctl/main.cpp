// fcctl: command-line access to a FusionCompute VRM through the FusionComputeSDKWrapper library.

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>

#include "Commands.h"
#include "Details.h"
#include "Session.h"
#include "Table.h"

namespace {

const char kFooter[] = R"(Password: --password-file FILE (first line of the file; - for standard input) or the
environment variable FCCTL_PASSWORD, else a prompt on a terminal; no option takes the password itself.

Connection: --host, --user, --ca-file, --port and --connect-to (or FCCTL_HOST, FCCTL_USER,
FCCTL_CA_FILE, FCCTL_PORT, FCCTL_CONNECT_TO) need no configuration file. An option wins over its
environment variable, which wins over the INI file named by the environment variable FCSDK_CONFIG:
  [Transport]
  sConnectTo = HOST:7443:ADDRESS:PORT   reach HOST:7443 at ADDRESS:PORT (e.g. a vrmsim)
  sCAFile    = /path/ca.pem             CA certificates that sign the VRM's certificate
  [Log]
  sFile, nLevel                         log file and level (--debug sets level 2)

Commands name a noun, then a verb: fcctl vm list, fcctl host list, fcctl snapshot create ...
The plural forms of the lists (vms, hosts, clusters, ...) remain as aliases.

Exit codes:
  0        success
  1        the VRM refused or the library reported a failure (message and error code on stderr)
  2        bad command line, missing password or unreadable input file
  3        authentication: the VRM refused the login (user name or password)
  4        not found: the named VM, snapshot, volume or other object does not exist
  5        connection: the VRM cannot be reached or its certificate is not trusted
  130/143  interrupted by SIGINT/SIGTERM (the call in progress is cancelled and what the command
           had made on the VRM is removed; the session is logged out)
Every command has --help.)";

void AddGlobalOptions(CLI::App& app, fcctl::GlobalOptions& options) {
    app.add_option("--host", options.host, "Host name or address of the VRM")
        ->envname("FCCTL_HOST")
        ->type_name("HOST");
    app.add_option("--user", options.user, "User name of the VRM account")
        ->envname("FCCTL_USER")
        ->type_name("NAME");
    app.add_option("--password-file", options.passwordFile,
                   "File whose first line is the password; - reads standard input (else FCCTL_PASSWORD)")
        ->type_name("FILE");
    app.add_option("--ca-file", options.caFile,
                   "PEM file of the CA certificates that sign the VRM's certificate")
        ->envname("FCCTL_CA_FILE")
        ->type_name("FILE");
    app.add_flag("--insecure", options.insecure,
                 "Do not check the VRM's certificate (a warning is printed; for tests only)");
    app.add_option("--port", options.port, "Port of the VRM's HTTPS interface (default 7443)")
        ->envname("FCCTL_PORT")
        ->check(CLI::Range(1, 65535))
        ->type_name("N");
    app.add_option("--connect-to", options.connectTo,
                   "Reach HOST:PORT at ADDRESS:APORT instead (the certificate must still name HOST)")
        ->envname("FCCTL_CONNECT_TO")
        ->type_name("HOST:PORT:ADDRESS:APORT");
    app.add_flag("--json", options.json, "Machine-readable JSON output on standard output");
    app.add_option("--details", options.details, fcctl::DetailsHelp())->type_name("LIST");
    app.add_flag("--debug", options.debug,
                 "Log the library's requests and answers (level 2) to standard error; secrets stay masked");
}

}  // namespace

int main(int argc, char** argv) {
    fcctl::GlobalOptions options;
    fcctl::Session session(options);

    CLI::App app("fcctl - browse and manage a FusionCompute VRM, take backups and restore VMs", "fcctl");
    app.footer(kFooter);
    app.fallthrough();  // global options may follow the command: fcctl vm show X --details disks
    app.require_subcommand(1);
    app.get_formatter()->column_width(34);
    app.set_version_flag("--version", std::string("fcctl ") + FCCTL_VERSION);
    AddGlobalOptions(app, options);

    CLI::App& vm =
        fcctl::Noun(app, "vm", "List, show, start, stop, create, change, delete, export and import VMs");
    fcctl::RegisterInventoryCommands(app, vm, session);
    fcctl::RegisterVmCommands(vm, session);
    fcctl::RegisterBackupCommands(app, session);
    fcctl::RegisterDeviceCommands(app, session);

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return fcctl::kExitUsage;
    }
    if (!session.action) {
        std::cerr << app.help();
        return fcctl::kExitUsage;
    }
    fcctl::InstallSignalHandlers();
    try {
        session.action();
    } catch (const fcctl::CommandError& e) {
        std::cout.flush();
        // Messages carry the VRM's texts: no control character may reach the terminal.
        std::cerr << "fcctl: " << fcctl::CellText(e.what()) << '\n';
        if (!e.hint().empty()) std::cerr << "fcctl: hint: " << fcctl::CellText(e.hint()) << '\n';
        return e.exitCode();
    } catch (const std::exception& e) {
        std::cout.flush();
        std::cerr << "fcctl: " << fcctl::CellText(e.what()) << '\n';
        return fcctl::kExitFailed;
    }
    std::cout.flush();
    // A signal that came when no library call ran still ends the run as interrupted.
    if (fcctl::InterruptSignal() != 0) return fcctl::InterruptExitCode(fcctl::InterruptSignal());
    return std::cout ? fcctl::kExitOk : fcctl::kExitFailed;
}
