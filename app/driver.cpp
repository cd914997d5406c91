#include "app/driver.h"

#include <cstdio>
#include <string>

#include "app/modes.h"
#include "app/version.h"
#include "console/console.h"
#include "console/help.h"

namespace {

/// A mode of the run: when the switches choose it, what the announcement calls its work (with
/// /L, what it would do), and its summary's word for a file done.
struct Mode {
    bool (*chosen)(const RunOptions& options);
    const char* verb;
    const char* would;
    const char* done;  // null for /LIST, whose summary counts backups and files
    ModeRun run;
};

/// The modes, the first chosen wins.
const Mode MODES[] = {
    {[](const RunOptions& o) { return o.list_backups; }, "Listing", "Listing", nullptr, list_mode},
    {[](const RunOptions& o) { return o.restore; }, "Restoring", "Would restore", "restored",
     restore_mode},
    {[](const RunOptions& o) { return o.copy; }, "Copying", "Would copy", "copied", backup_mode},
    {[](const RunOptions&) { return true; }, "Renaming", "Would rename", "renamed", backup_mode},
};

const Mode& choose_mode(const RunOptions& options) {
    for (const Mode& m : MODES) {
        if (m.chosen(options)) return m;
    }
    return MODES[sizeof MODES / sizeof MODES[0] - 1];
}

/// The summary's lines (none with /Q or /JSON).
void summarize(const Mode& mode, const RunCount& count, const RunOptions& options, Report& report) {
    if (!options.verbose) return;
    char line[128];
    const char* would = options.list_only ? "would be " : "";
    if (!mode.done) {
        std::snprintf(line, sizeof line, "\t\t%i backup(s) of %i file(s)", count.done, count.files);
        return report.summary(line);
    }
    std::snprintf(line, sizeof line, "\t\t%i file(s) %s%s", count.done, would, mode.done);
    report.summary(line);
    if (!options.keeping()) return;
    std::snprintf(line, sizeof line, "\t\t%i backup(s) %sremoved", count.removed, would);
    report.summary(line);
}

/// Tells on standard error, whatever the switches, so that a script sees it too, what could
/// not be done; returns the exit status.
int run_status(const RunPlan& plan, const RunCount& count, const RunOptions& options) {
    const bool dry = options.list_only;
    const std::string directory = directory_failure(plan);
    if (!directory.empty())
        console_error("Tavrix: the directory could not be %s\n",
                      console_safe_error(directory.c_str()).c_str());
    if (!plan.to_failure.empty())
        console_error("Tavrix: the backup directory could not be opened: %s\n",
                      console_safe_error(plan.to_failure.c_str()).c_str());
    const char* action = options.restore ? "restored" : "backed up";
    if (count.failed > 0) {
        console_error(dry ? "Tavrix: %i file(s) would not be %s; /L tells why\n"
                          : "Tavrix: %i file(s) could not be %s; /DEBUG tells why\n",
                      count.failed, action);
    }
    if (count.not_removed > 0) {
        console_error(dry ? "Tavrix: %i backup(s) would not be removed; /L tells why\n"
                          : "Tavrix: %i backup(s) could not be removed; /DEBUG tells why\n",
                      count.not_removed);
    }
    if (count.not_looked_at > 0)
        console_error("Tavrix: %i name(s) could not be looked at; %s tells why\n",
                      count.not_looked_at,
                      options.list_backups ? "/LIST"
                      : dry                ? "/L"
                                           : "/DEBUG");
    const bool failed = !directory.empty() || !plan.to_failure.empty() || count.failed > 0 ||
                        count.not_removed > 0 || count.not_looked_at > 0;
    return failed ? RUN_FAILED : EXIT_DONE;
}

}  // namespace

int run_backup(const RunOptions& given) {
    // With /JSON, every entry's line and no announcement, summary or colour.
    RunOptions options = given;
    if (options.json) {
        options.debug = true;
        options.verbose = false;
    }
    const std::unique_ptr<Report> report = make_report(options);
    const Mode& mode = choose_mode(options);
    RunPlan plan = plan_run(options);
    if (options.verbose) report->announce(options.list_only ? mode.would : mode.verb, plan.pattern);
    if (options.debug || options.list_only) {
        for (const std::string& made : plan.to.made) report->made(made);
    }
    bool cancelled = false;
    const RunCount count = mode.run(plan, options, *report, cancelled);
    if (cancelled) report->cancelled();
    summarize(mode, count, options, *report);
    return run_status(plan, count, options);
}

namespace {

int tavrix_run(int argc, char** argv) {
    console_set_attr(ATTR_NORMAL);
    const uint16_t title_back = BACKGROUND_BLUE_BIT;
    if (argc < 2) show_help(title_back, ATTR_NORMAL, 0);
    RunOptions options;
    switch (parse_command_line(argc, argv, options)) {
        case ParseResult::HELP:
            show_help(title_back, ATTR_NORMAL, 0);
        case ParseResult::USAGE:
            print_usage();
            return EXIT_DONE;
        case ParseResult::VERSION:
            console_printf("Tavrix v%s\n", TAVRIX_VERSION);
            return EXIT_DONE;
        case ParseResult::UNKNOWN_LONG:
            // Escaped as standard error's terminal needs, and cut: the hint stays in sight.
            console_error("Unknown switch \"%s\": use %s --help for the switches\n",
                          fit_columns(console_safe_error(options.unknown), 60).c_str(),
                          PLATFORM_PROGRAM);
            return EXIT_BAD_SWITCH;
        case ParseResult::REFUSED:
            console_error("Tavrix: %s\n", options.refusal);
            return EXIT_BAD_SWITCH;
        case ParseResult::TOO_MANY:
            console_printf("Too many parameters");
            console_printf("%s", ": use Tavrix /? for help\n");
            return EXIT_TOO_MANY;
        case ParseResult::RUN:
            break;
    }
    return run_backup(options);
}

}  // namespace

int tavrix_main(int argc, char** argv) {
    return console_exit_status(tavrix_run(argc, argv));
}
