// Replacing a file whole or not at all. The new content goes to a hidden temporary file beside
// the old one; every write is checked, the file is synced, and only then is it renamed over the
// old file, whose owner, group and permissions it takes. On any failure the old file stays byte for
// byte as it was and the temporary file is removed, so a full disk or a read-only folder never
// leaves a truncated or empty file behind.
//
// Written here rather than with QSaveFile: that class names its temporary file after the
// target ("Results.bin.XXXXXX"), a name a user may give a file of their own, and its buffered
// writes are only checked at a flush whose failure it does not report.
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

// Which step of a replacement failed.
enum class TFileStep {
    None,
    NotAFile,       // the name belongs to a folder or another kind of file
    LinkToNothing,  // the name is a symbolic link whose target does not exist
    WriteProtected, // the old file may not be written
    Create,         // no temporary file could be made in the folder
    Write,          // a write failed: the disk is full, the file too large, ...
    Sync,           // the data could not be flushed to the disk
    Keep,           // the old file could not be kept under another name
    Rename,         // the new file could not take the old one's place
};

struct TFileError {
    TFileStep Step = TFileStep::None;
    int Errno = 0; // the system's error number, 0 where there is none
    bool Failed() const { return Step != TFileStep::None; }
};

// The system's text of an error number, in English.
std::string SystemErrorText(int errorNumber);

class FileReplacement {
public:
    FileReplacement() = default;
    ~FileReplacement() { Discard(); }
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    // Starts replacing path (the file a symbolic link points to, when it is one). The prefix
    // of the temporary file's name is "." and the file's own name and ".tmp", followed by six
    // characters.
    bool Begin(const std::string& path);
    // Appends bytes; false once any write has failed.
    bool Write(const void* data, std::size_t size);
    // Puts the new file in the old one's place. When keepAs is given and an old file exists,
    // the old file is first kept under that name in the same folder (or that name followed
    // by "-2", "-3", ... when it is taken); KeptAs() then says which.
    bool Commit(const std::string& keepAs = {});
    // Removes the temporary file; the old file stays. Called by the destructor.
    void Discard();

    const TFileError& Error() const { return error_; }
    const std::string& KeptAs() const { return keptAs_; }

    // Whether a name is that of a temporary file of the named file, as Begin makes them.
    static bool IsTemporaryName(const std::string& name, const std::string& fileName);
    // The file a replacement of path replaces: the final target when path is a symbolic link
    // to an existing file, path itself otherwise.
    static std::string ReplacedFile(const std::string& path);
    // Removes the temporary files that replacements of path left when they were killed before
    // their rename: only names Begin makes, beside the file replaced. The caller must keep
    // other writers of that file away meanwhile.
    static void RemoveStaleTemporaryFiles(const std::string& path);

private:
    bool Fail(TFileStep step, int errorNumber);

    std::string target_; // the file replaced, links resolved
    std::string tempPath_;
    int fd_ = -1;
    bool oldExists_ = false;
    unsigned oldMode_ = 0;
    uid_t oldOwner_ = 0;
    gid_t oldGroup_ = 0;
    std::size_t written_ = 0;
    std::size_t flushedUpTo_ = 0;
    TFileError error_;
    std::string keptAs_;
};
