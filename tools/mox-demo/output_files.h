// Finding the files the library wrote in this run.
#pragma once

#include <ctime>
#include <string>

// The library writes "<logdir>/<name>", or "<name>" in the working directory
// when it cannot write there. Returns the one of them written since `since`
// (the newer if both were), or "" when neither was.
std::string fileWrittenSince(const std::string& logdir, const std::string& name, std::time_t since);

// The whole file; "" when it cannot be read.
std::string readWholeFile(const std::string& path);
