#include "cli/StandardOutput.h"

#include "platform/FileReplacement.h"

#include <cerrno>
#include <cstdio>

namespace {

struct OutputState {
    int Errno = 0; // of the first write that failed
    bool Written = false;
};

OutputState& Output() {
    static OutputState state;
    return state;
}

void Failed() {
    if (Output().Errno == 0)
        Output().Errno = errno != 0 ? errno : EIO;
}

} // namespace

bool WriteStandardOutput(const QByteArray& bytes) {
    OutputState& output = Output();
    if (output.Errno != 0)
        return false;
    output.Written = output.Written || !bytes.isEmpty();
    errno = 0;
    const auto size = static_cast<std::size_t>(bytes.size());
    if (std::fwrite(bytes.constData(), 1, size, stdout) != size || std::fflush(stdout) != 0) {
        Failed();
        return false;
    }
    return true;
}

QString CloseStandardOutput() {
    OutputState& output = Output();
    if (output.Errno == 0) {
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0)
            Failed();
    }
    errno = 0;
    // A standard output closed before the program started is no loss when nothing was written.
    if (std::fclose(stdout) != 0 && !(errno == EBADF && !output.Written))
        Failed();
    return output.Errno != 0 ? QString::fromStdString(SystemErrorText(output.Errno)) : QString();
}
