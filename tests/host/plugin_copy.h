// A copy of the built plug-in in a folder of the test's own (where its settings file lands), with
// the scene data it loads beside it as in an installation.
#ifndef MARLIX_TEST_PLUGIN_COPY_H
#define MARLIX_TEST_PLUGIN_COPY_H

#include <filesystem>
#include <string>

// Returns the path of the copy, DIR/plugins/vis_marlix.so; its marlixdata links to the built one.
inline std::string CopyPlugin(const std::string& dir)
{
    std::filesystem::path built(MARLIX_PLUGIN_FILE);
    std::filesystem::create_directories(dir + "/plugins");
    std::string plugin = dir + "/plugins/vis_marlix.so";
    std::filesystem::copy_file(built, plugin);
    std::filesystem::create_directory_symlink(built.parent_path() / "marlixdata", dir + "/plugins/marlixdata");
    return plugin;
}

#endif
