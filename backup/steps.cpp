#include "backup/steps.h"

namespace {

struct StepText {
    Step step;
    const char* words;
    const char* name;
};

/// Every step, in the order of the enum.
const StepText STEPS[] = {
    {Step::NONE, "", nullptr},
    {Step::RENAME, "the rename was refused", "rename"},
    {Step::HOLD_BACKUP_NAME, "the backup name could not be opened", "open backup name"},
    {Step::REMOVE_OLD_NAME, "the old name could not be removed", "remove old name"},
    {Step::LINK, "the link to the backup name failed", "link"},
    {Step::MOVE_ASIDE, "the move to a private name failed", "move to private name"},
    {Step::OPEN, "the file could not be opened", "open"},
    {Step::CREATE_COPY, "the copy could not be made", "create copy"},
    {Step::COPY_DATA, "the data could not be copied", "copy data"},
    {Step::KEEP_PERMISSIONS, "its permissions could not be kept", "keep permissions"},
    {Step::KEEP_TIMES, "its times could not be kept", "keep times"},
    {Step::FLUSH, "the copy could not be flushed", "flush"},
    {Step::NAME_COPY, "the copy could not be named", "name copy"},
    {Step::LOOK, "it could not be looked at", "look"},
    {Step::LOOK_CURRENT, "the current file could not be looked at", "look at current file"},
    {Step::EXCHANGE, "the exchange was refused", "exchange"},
    {Step::REMOVE, "the removal was refused", "remove"},
};

const StepText& text_of(Step step) {
    const size_t i = static_cast<size_t>(step);
    return i < sizeof STEPS / sizeof STEPS[0] ? STEPS[i] : STEPS[0];
}

}  // namespace

const char* step_words(Step step) {
    return text_of(step).words;
}

const char* step_name(Step step) {
    return text_of(step).name;
}

Step foreseen_step(Foreseen at) {
    switch (at) {
        case Foreseen::OPEN:
            return Step::OPEN;
        case Foreseen::CREATE_COPY:
            return Step::CREATE_COPY;
        case Foreseen::COPY_DATA:
            return Step::COPY_DATA;
        case Foreseen::RENAME:
            return Step::RENAME;
        default:
            return Step::NONE;
    }
}
