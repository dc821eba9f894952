#include "host/HostSystem.h"

#include <stdlib.h>
#include <unistd.h>

#include "containers.h"

bool StdinIsTerminal() {
  return isatty(STDIN_FILENO) == 1;
}

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

bool SetEnvironmentValue(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

bool ReadsCacheFolders() {
  return true;
}

std::vector<std::string> CacheFoldersInUse() {
  std::vector<std::string> folders;
  for (const CacheContainer& container : ConfiguredContainers()) folders.push_back(container.Folder);
  return folders;
}

CacheCheck CheckCaches() {
  if (!ContainersConfigured()) return {};
  ContainerReport report = ReportContainers();
  return {std::move(report.Skipped), std::move(report.Partial), report.Read == 0};
}
