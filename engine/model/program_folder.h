#pragma once

// Where the running program and the files installed with it are.
//
// An installation keeps the programs in bin/, the Access reader in
// libexec/kesmark/ and the shipped default settings in share/kesmark/, all
// under one prefix; a build tree keeps them together in its bin/ folder.
// Both are found relative to the running program, so an installation can be
// moved (or unpacked under a DESTDIR) and still find its own files.

#include <filesystem>
#include <string_view>

namespace kesmark {

// The installed folders, relative to the folder of the programs.
inline constexpr std::string_view kLibexecFromProgram = "../libexec/kesmark";
inline constexpr std::string_view kDataFromProgram = "../share/kesmark";

// The folder of the running executable, from /proc/self/exe; empty when the
// system does not tell.
std::filesystem::path ProgramFolder();

// The helper program or data file `name`: beside the running program when it
// is there (a build tree, a portable set-up), else in `installedFolder`
// (relative to the program's folder, e.g. kLibexecFromProgram). Returns the
// installed path when neither exists, so that a message can name where the
// file was expected; returns `name` alone when the program's folder is
// unknown.
std::filesystem::path FindBesideOrInstalled(std::string_view name,
                                            std::string_view installedFolder);

}  // namespace kesmark
