// Folders the program lives in: the home folder and the executable's folder.
#pragma once
#include <cstdio>
#include <string>

// "$XDG_DATA_HOME/Vantorq/" or "$HOME/.local/share/Vantorq/"; empty when neither is set.
std::string home_folder();
// The folder of the running executable with a trailing "/" (from /proc/self/exe).
std::string exe_folder();
// Creates every missing folder on path up to its last "/" (a trailing file name is not
// created). Failures are ignored; returns whether that folder exists afterwards.
bool make_folders(const std::string &path);
// Collapses runs of "/" and turns back-slashes into "/".
std::string normalise_path(const std::string &path);
// Commits a file's written data to the disk (flush, then fsync). False on failure.
bool file_sync(std::FILE *file);
