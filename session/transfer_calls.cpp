#include "session/transfer_calls.h"

#include "session/table_run.h"
#include "session/update_run.h"

ResultCode runFileTransfer(const char16_t*, const char16_t*, const char16_t* filePath,
                           std::uint64_t diskOffset, ProgressCallback progress,
                           MessageCallback message) {
    UpdateRun* run = runOverUpdateDiskTable();
    if (!run)
        return kResultFileOpen;
    // The call names its file by path and offset; the run holds each image
    // with the size and digest it had when the folder was scanned. The image
    // is looked up among the run's rather than taken from the path, so that
    // only bytes that were checked are ever written: a path that is none of
    // them writes nothing.
    const std::u16string path = filePath ? filePath : u"";
    const std::vector<RunFile> files = run->files();
    std::size_t index = 0;
    while (index < files.size() &&
           (files[index].path != path || files[index].diskOffset != diskOffset))
        ++index;
    // The bar and the file line speak for every calculator of the run; the
    // run's observer hears of each one by name.
    TransferObserver callbacks;
    callbacks.progress = [progress](const DiskIdentity&, int percent) {
        if (progress)
            progress(percent);
    };
    callbacks.message = [message](const DiskIdentity&, const std::u16string& text) {
        if (message)
            message(text.c_str());
    };
    return run->transfer(index, callbacks).result.code;
}

ResultCode releaseUpdateDisks(const char16_t*, const char16_t*) {
    UpdateRun* run = runOverUpdateDiskTable();
    if (!run)
        return kResultNoDisk;
    return run->finish().result.code;
}
