#include "app/modes.h"

RunCount list_mode(RunPlan& plan, const RunOptions& options, Report& report, bool& cancelled) {
    cancelled = false;
    RunCount count;
    if (!plan.dir) {
        if (!plan.opened.words.empty()) report.directory("opened", plan.opened.words);
        return count;
    }
    std::vector<PassedOver> passed;
    const std::vector<Original> originals = catalog(plan, options, passed);
    count.not_looked_at += tell_passed(plan, passed, report, true, false);
    for (Original o : originals) {
        for (BackupEntry& b : o.backups) b.name = plan.shown(b.name);
        report.listed(o);
        count.done += static_cast<int>(o.backups.size());
        ++count.files;
    }
    if (!plan.listing.error.empty()) report.directory("read to its end", plan.listing.error);
    return count;
}
