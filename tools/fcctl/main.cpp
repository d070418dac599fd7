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

Transport: the library reads the INI file named by the environment variable FCSDK_CONFIG.
  [Transport]
  sConnectTo = HOST:7443:ADDRESS:PORT   reach HOST:7443 at ADDRESS:PORT (e.g. a vrmsim)
  sCAFile    = /path/ca.pem             CA certificates that sign the VRM's certificate
  [Log]
  sFile, nLevel                         log file and level (--debug sets level 2)

Exit codes: 0 success, 1 the VRM or the library reported a failure (the message and the VRM's
error code go to standard error), 2 bad command line, missing password or unreadable input file,
130/143 interrupted by SIGINT/SIGTERM (the call in progress is cancelled and what the command had
made on the VRM is removed; the session is logged out).
Every command has --help.)";

void AddGlobalOptions(CLI::App& app, fcctl::GlobalOptions& options) {
    app.add_option("--host", options.host, "Host name or address of the VRM (port 7443)")
        ->envname("FCCTL_HOST")
        ->type_name("HOST");
    app.add_option("--user", options.user, "User name of the VRM account")
        ->envname("FCCTL_USER")
        ->type_name("NAME");
    app.add_option("--password-file", options.passwordFile,
                   "File whose first line is the password; - reads standard input (else FCCTL_PASSWORD)")
        ->type_name("FILE");
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

    CLI::App* vm =
        app.add_subcommand("vm", "Show, start, stop, create, change, delete, export and import VMs");
    vm->require_subcommand(1);
    fcctl::RegisterInventoryCommands(app, *vm, session);
    fcctl::RegisterVmCommands(*vm, session);
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
