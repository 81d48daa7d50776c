#include "archiver/run.h"

#include "archiver/archive_file.h"
#include "archiver/dated_folder.h"
#include "runtime/arguments.h"
#include "runtime/block_file.h"
#include "runtime/console.h"
#include "runtime/failure.h"
#include "runtime/folder.h"
#include "runtime/paths.h"
#include "runtime/progress.h"
#include "runtime/search.h"

namespace {

void WriteLine(std::string_view text) {
  WriteText(StandardOutput, text);
  EndLine(StandardOutput);
  CheckIoStatus();
}

[[noreturn]] void ShowUsage() {
  WriteLine(UsageLine1(ArgumentAt(0)));
  WriteLine("");
  WriteLine(" All files matching Filepattern will be archived to files with the same");
  WriteLine(" name to a subdir in the Archive subdir (Archive Dir will be created if needed).");
  WriteLine(" If ArchiveDir is not entered 'Archive' is used (don't use full path!)");
  WriteLine(" Original files will be deleted if /d option is used");
  WriteLine("   example: Stowit *.log backup /d");
  WriteLine("");
  WriteLine(" Stowbox v" STOWIT_VERSION " - copies matching files into a new dated folder on every run");
  EndProcess(5);
}

[[noreturn]] void ShowVersion() {
  WriteLine(VersionLine());
  EndProcess(0);
}

// An archive folder can never be a plain file: one named as such is a match of
// the pattern that the shell expanded, and /D would delete only the first of them.
[[noreturn]] void RefuseExpandedPattern(const std::string& argument) {
  WriteLine(argument + " is a file, not an archive folder; quote the pattern (for example: stowit '*.log')");
  EndProcess(5);
}

// How a search starts that finds nothing there: no such file, folder or
// drive, no more files, or a pattern that is no valid name. Anything else
// (access denied, an I/O error) means that what is there could not be seen.
bool NothingThere(int32_t status) {
  switch (status) {
    case 0:
    case os::ErrorFileNotFound:
    case os::ErrorPathNotFound:
    case os::ErrorInvalidDrive:
    case os::ErrorNoMoreFiles:
    case os::ErrorInvalidName:
    case os::ErrorBadPathname:
      return true;
    default:
      return false;
  }
}

std::string UpperAscii(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return text;
}

}  // namespace

bool IsUsageRequest(int count, const std::string& first) {
  return count <= 0 || first == "/?" || IsHelpSwitch(first);
}

std::string VersionLine() { return "stowit (Stowbox) " STOWIT_VERSION; }

std::string UsageLine1(std::string_view programPath) {
  std::string line = "Usage: ";
  line += programPath;
  line += " Filepattern [ArchiveDir] [/D]";
  return line.substr(0, MaxArgumentBytes);
}

bool IsDeleteSwitch(const std::string& argument) { return UpperAscii(argument) == "/D"; }

std::string ExpandedPatternArgument(const std::vector<std::string>& laterArguments, const std::string& sourceDir) {
  auto isFile = [](const std::string& path) {  // the mask turns directories away
    SearchEntry entry;
    return OsLookUp(path, FileMask, entry) == 0;
  };
  for (const std::string& argument : laterArguments)
    if (!IsDeleteSwitch(argument) && (isFile(argument) || (!sourceDir.empty() && isFile(sourceDir + argument))))
      return argument;
  return {};
}

RunOptions ReadOptions(const std::vector<std::string>& laterArguments) {
  RunOptions options;
  for (const std::string& argument : laterArguments) {
    if (IsDeleteSwitch(argument))
      options.deleteOriginals = true;
    else
      options.archiveDir = argument;
  }
  return options;
}

[[noreturn]] void RunArchiver() {
  const int32_t count = ArgumentCount();
  if (IsUsageRequest(count, ArgumentAt(1))) ShowUsage();
  if (IsVersionSwitch(ArgumentAt(1))) ShowVersion();

  // A cut argument could name files the user never named, and /D would delete
  // them; so could one that reached the program changed ('?' where a character
  // was is a wildcard); an empty one (a script's unset variable) would shift the others.
  std::vector<std::string> later;
  const int32_t inexact = InexactArgument();
  for (int32_t i = 1; i <= count; ++i) {
    std::string argument = ArgumentAt(i);
    if (argument.size() > MaxArgumentBytes || argument.empty() || i == inexact) {
      WriteLine("Argument " + DecimalText(i) +
                (i == inexact          ? std::string(" holds a character that this system's code page cannot hold")
                 : argument.empty()    ? std::string(" is empty")
                                       : " is longer than " + DecimalText(MaxArgumentBytes) + " bytes") +
                "; nothing was archived.");
      EndProcess(5);
    }
    if (i > 1) later.push_back(std::move(argument));
  }
  const RunOptions options = ReadOptions(later);

  const std::string sourceDir = DirectoryPart(ArgumentAt(1));
  if (ShellMayHaveExpanded()) {
    const std::string file = ExpandedPatternArgument(later, sourceDir);
    if (!file.empty()) RefuseExpandedPattern(file);
  }
  // Held from here to the end: the folder listed is the folder where each
  // original is opened and deleted, and each copy goes to the folder made for it.
  const Folder source = OpenFolder(os::CurrentFolder, sourceDir);
  std::string archiveRoot = sourceDir + options.archiveDir;  // as the system reads it, once opened
  Folder rootParent, dated;
  const Folder root = OpenArchiveRoot(archiveRoot, rootParent);
  const std::string datedFolder = MakeDatedFolder(archiveRoot, root, dated);

  WriteLine("Archive folder : " + datedFolder);
  if (options.deleteOriginals) WriteLine("Original files will be deleted after archiving");
  if (options.deleteOriginals && dated.Held()) {
    // Each copy's entry is made durable before its original goes; the new
    // folders' own entries must be too, or a power cut could still lose them.
    FlushFolder(root.handle);
    CheckIoStatus();
    FlushFolder(rootParent.handle);
    CheckIoStatus();
  }

  int32_t fileCount = 0;
  SearchEntry entry;
  if (source.Held())
    StartSearch(ArgumentAt(1), FileMask, entry, source.handle);
  else
    SetSearchStatus(source.status);
  // Only a pattern that names nothing there is "nothing matched": a folder
  // that cannot be read must not pass for an empty one.
  if (!NothingThere(SearchStatus())) {
    SetIoStatus(SearchStatus());
    CheckIoStatus();
  }
  while (SearchStatus() == 0) {
    ++fileCount;
    WriteText(StandardOutput, "File ");
    WriteInteger(StandardOutput, fileCount);
    WriteChar(StandardOutput, ' ');
    WriteText(StandardOutput, sourceDir);
    WriteText(StandardOutput, entry.name);
    WriteText(StandardOutput, " (");
    WriteInteger(StandardOutput, entry.size);
    WriteText(StandardOutput, " bytes)");
    EndLine(StandardOutput);
    CheckIoStatus();
    {
      CopyProgress progress(entry.size);
      ArchiveFile(HeldName{source, entry.name, sourceDir}, HeldName{dated, entry.name, datedFolder + PathDelimiter()},
                  options.deleteOriginals);
    }
    ContinueSearch(entry);
  }
  const int32_t listingEnd = SearchStatus();
  EndSearch(entry);
  // A listing that breaks off must not pass for one that reached its end: the
  // files not yet reached were never archived.
  if (fileCount > 0 && listingEnd != os::ErrorNoMoreFiles) {
    SetIoStatus(listingEnd);
    CheckIoStatus();
  }
  EndProcess(fileCount == 0 ? 5 : 0);
}
