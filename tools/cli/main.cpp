// quillon-cli: the camera from scripts and production lines, on the core of Quillon.
//
//   quillon-cli [options] ports | identify | send CMD... | set NAME=VALUE...|NAME... |
//               describe [NAME...] | load FILE [--verify] | save OUT [NAME=VALUE...] |
//               check DEF... | watch --every DURATION [--run NAME|--send CMD] NAME... |
//               serve [--socket PATH]
//   quillon-cli --attach [N] COMMAND ...   (through the window; every command but watch)
//
// Exit status: 0 success, 1 usage, 2 file, 3 port, 4 transaction, 5 reply code, 6 mismatch or
// problem, 130/143 SIGINT/SIGTERM.
#include "app/ServeSocket.h"
#include "tools/cli/Attach.h"
#include "tools/cli/Commands.h"
#include "tools/cli/Output.h"
#include "tools/cli/Serve.h"
#include "tools/cli/Session.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
    CliOptions options;
    CliCommand command;
    std::string socket; // serve --socket
};

void AddCommonOptions(CLI::App& app, CliOptions& o) {
    app.add_option("-i", o.instance, "instance number whose settings file is read (default 0)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--port", o.port,
                   "built-in port name as 'ports' lists it, a device path, or a serial device "
                   "server's tcp://HOST:PORT or rfc2217://HOST:PORT");
    app.add_option("--interface", o.interfaceName,
                   "interface by name (default: the instance's stored interface)");
    app.add_option("--baud", o.baud, "line speed of the built-in port, any the device takes")
        ->check(CLI::PositiveNumber);
    app.add_option("--timeout", o.timeoutMs, "first and next receive time-out in ms")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--gap", o.gapMs,
                   "pause after each command of load and set in ms (default: the instance's "
                   "Command Gap setting, 50)")
        ->check(CLI::NonNegativeNumber);
    app.add_option("--definition", o.definition,
                   "camera definition file, or 'auto' (chosen from the \"sta\" identity)");
    app.add_flag("--json", o.json, "one JSON object per line on standard output");
    app.add_option("--log", o.logFile, "append the traffic to this file");
    // Taken out before parsing (TakeAttachOption); listed here for the help text.
    app.add_flag("--attach")
        ->description("[N] send the command through the scripting socket of the running "
                      "window of instance N (default 0) instead of opening the port");
}

} // namespace

namespace {

int Run(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    // --attach [N] takes an optional number, which the parser below could not tell from a
    // command: it is taken out first.
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const int attach = TakeAttachOption(arguments, 0);
    std::reverse(arguments.begin(), arguments.end());
    Parsed parsed;
    CLI::App app{"quillon-cli: TARN cameras from scripts, on the core of Quillon", "quillon-cli"};
    app.set_version_flag("--version", std::string("quillon-cli ") + QUILLON_VERSION);
    app.require_subcommand(1, 1);
    AddCommonOptions(app, parsed.options);

    struct CommandEntry {
        const char* name;
        const char* help;
        const char* arguments; // null: none
        bool required;
    };
    const CommandEntry commands[] = {
        {"ports", "list the interfaces and the built-in interface's ports", nullptr, false},
        {"identify", "send \"sta\" and print Model, Type, Ver., Serial", nullptr, false},
        {"send", "send each CMD as a console command", "CMD", true},
        {"set", "edit properties as the window commits them (needs --definition)", "NAME=VALUE",
         true},
        {"describe", "describe properties (needs --definition)", "NAME", false},
        {"load", "replay a Text Load batch file", "FILE", true},
        {"save", "write the Text Save file of the definition's values (needs --definition)",
         "OUT NAME=VALUE", true},
        {"check", "load definitions and list what would fail at run time", "DEF", true},
    };
    for (const CommandEntry& entry : commands) {
        CLI::App* sub = app.add_subcommand(entry.name, entry.help);
        sub->fallthrough();
        sub->callback([&parsed, sub] { parsed.command.name = sub->get_name(); });
        if (entry.arguments) {
            auto* positional =
                sub->add_option("arguments", parsed.command.arguments, entry.arguments);
            if (entry.required)
                positional->required();
        }
        if (std::string(entry.name) == "load")
            sub->add_flag("--verify", parsed.command.verify,
                          "compare the values of every reply with the values sent");
    }
    CLI::App* watch = app.add_subcommand(
        "watch", "each round run an Execution property or send a command, then print the "
                 "values of NAME... (CSV, or JSON with --json) until SIGINT");
    watch->fallthrough();
    watch->callback([&parsed] { parsed.command.name = "watch"; });
    watch
        ->add_option("--every", parsed.command.every,
                     "interval such as 500ms, 2s, 1m (100ms to 24h)")
        ->required();
    auto* runOption = watch->add_option("--run", parsed.command.run,
                                        "the Execution property run each round (\"Read status\")");
    watch->add_option("--send", parsed.command.send, "the command sent each round")
        ->excludes(runOption);
    watch->add_option("names", parsed.command.arguments, "NAME")->required();
    CLI::App* serve = app.add_subcommand(
        "serve", "hold one camera open for scripts: JSON-RPC 2.0, one object per line, on "
                 "standard input and output (docs/serve-protocol.md)");
    serve->fallthrough();
    serve->callback([&parsed] { parsed.command.name = "serve"; });
    serve->add_option("--socket", parsed.socket,
                      "listen on this Unix socket instead (mode 0600, several clients)");

    try {
        app.parse(arguments);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        clCliOutput::Error(e.what());
        return kCliUsage;
    }

    if (attach >= 0) {
        if (parsed.command.name == "serve" || parsed.command.name == "watch") {
            clCliOutput::Error(parsed.command.name + " does not run through the window");
            return kCliUsage;
        }
        return RunAttached(serve::WindowSocketPath("", attach), parsed.command,
                           clCliOutput(parsed.options.json));
    }
    clCliSession session(parsed.options);
    std::string error;
    if (const int status = session.Start(error)) {
        clCliOutput::Error(error);
        return status;
    }
    if (parsed.command.name == "serve") {
        if (parsed.socket.empty())
            return ServeStdio(session);
        const int status = ServeSocket(session, parsed.socket, error);
        if (!error.empty())
            clCliOutput::Error(error);
        return status;
    }
    const clCliOutput out(parsed.options.json);
    const int status = RunCliCommand(session, out, parsed.command);
    // A signal that came while the command was ending still ends the tool as a signal does.
    if (const int signal = session.PendingSignal(); signal != 0 && status < 128) {
        clCliOutput::Error(std::string(signal == SIGINT ? "interrupted" : "terminated") +
                           ": the port was closed");
        return 128 + signal;
    }
    return status;
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        // Nothing of ours throws past its command; this is memory running out and the like.
        clCliOutput::Error(std::string("cannot go on: ") + e.what());
        return EXIT_FAILURE;
    }
}
