// Stands in for the host's companion tool: records how it was called and copies the report
// it finds in its working folder, each file complete before it appears under its name.
#include <filesystem>
#include <fstream>

int main(int argc, char* argv[])
{
    namespace fs = std::filesystem;
    fs::copy_file("CodiciNonPresenti.txt", "seen.tmp", fs::copy_options::overwrite_existing);
    {
        std::ofstream args("args.tmp", std::ios::binary);
        args << argv[0] << '\n' << argc - 1 << '\n';
        for (int i = 1; i < argc; ++i)
            args << argv[i] << '\n';
    }
    fs::rename("seen.tmp", "seen.txt");
    fs::rename("args.tmp", "args.txt");
    return 0;
}
