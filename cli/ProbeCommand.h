#pragma once
#include <string>
#include <vector>

class TAVProbe;

// The JSON description of one file ("File" and "Error" when it cannot be
// opened). Sets opened to whether the probe could open it.
std::string DescribeMediaFile(TAVProbe& probe, const std::string& fileName, bool& opened);

// "probe FILE...": one JSON line per file; 0 when every file opened, else 1.
int RunProbeCommand(const std::vector<std::string>& files);
