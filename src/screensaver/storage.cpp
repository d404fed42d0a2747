#include "screensaver.h"

#include <stdexcept>

std::filesystem::path dataFolder() { return "C:\\wishwell"; }
std::string readFile(const std::filesystem::path&) { throw std::runtime_error("Could not open the file."); }
void atomicSave(const std::filesystem::path&, const std::string&) {}
bool readReducedMotion(const std::filesystem::path&, bool fallback) { return fallback; }
void saveReducedMotion(const std::filesystem::path&, bool) {}
