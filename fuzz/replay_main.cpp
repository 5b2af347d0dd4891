// Replays saved inputs through the fuzz target under the sanitizers, and
// checks the parser's answers on every generated file that its directory's
// expected.tsv lists.  Prints one line per failed check and a closing count;
// a sanitizer fault aborts the whole run instead.  With --print it prints
// the answers for the files named instead.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "mediainfo/media_header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Bytes = std::vector<std::uint8_t>;

class MemorySource final : public mediainfo::ByteSource {
public:
    explicit MemorySource(const Bytes& bytes) noexcept : bytes_(bytes) {}

    int ReadAt(std::uint32_t offset, unsigned char* buffer, int count) noexcept override {
        if (offset >= bytes_.size() || count <= 0) return 0;
        std::size_t n = bytes_.size() - offset;
        if (n > static_cast<std::size_t>(count)) n = count;
        std::memcpy(buffer, bytes_.data() + offset, n);
        return static_cast<int>(n);
    }

private:
    const Bytes& bytes_;
};

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string Hex(const char* text) {
    std::string out;
    char two[3];
    for (; *text; ++text) {
        std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(*text));
        out += two;
    }
    return out;
}

bool IsDirectory(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> files;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* entry = readdir(d)) {
            std::string name = entry->d_name;
            if (name[0] != '.' && name != "expected.tsv" && !IsDirectory(dir + "/" + name))
                files.push_back(dir + "/" + name);
        }
        closedir(d);
    }
    return files;
}

int passed = 0;
int failed = 0;

// The parser's answers over the reader's defaults (the file name, -1000)
// must be those expected.tsv states.
void CheckExpected(const std::string& dir) {
    std::ifstream manifest(dir + "/expected.tsv");
    std::string line;
    while (std::getline(manifest, line)) {
        std::istringstream fields(line);
        std::string name, titleHex;
        int lengthMs = 0;
        std::getline(fields, name, '\t');
        fields >> lengthMs >> titleHex;
        Bytes bytes = ReadBytes(dir + "/" + name);
        std::vector<char> title(mediainfo::kTitleCapacity);
        mediainfo::CopyDefaultTitle(name.c_str(), title.data(), core::NoLeadBytes);
        int gotLength = mediainfo::kDefaultLengthMs;
        MemorySource source(bytes);
        mediainfo::ReadHeader(source, title.data(), &gotLength);
        std::string gotHex = Hex(title.data());
        std::string wantHex = titleHex == "-" ? Hex(name.c_str()) : titleHex;
        if (gotLength == lengthMs && gotHex == wantHex) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAILED %s: length %d title %s, expected %d %s\n", name.c_str(), gotLength,
                        gotHex.c_str(), lengthMs, wantHex.c_str());
        }
    }
}

// Prints the parser's answers for each file: length, a tab, the title's
// bytes in hexadecimal (as `hostsim info --hex` does).
int Print(int count, char** files) {
    for (int i = 0; i < count; ++i) {
        Bytes bytes = ReadBytes(files[i]);
        std::string name = files[i];
        std::size_t slash = name.rfind('/');
        std::vector<char> title(mediainfo::kTitleCapacity);
        mediainfo::CopyDefaultTitle(slash == std::string::npos ? name.c_str() : name.c_str() + slash + 1,
                                    title.data(), core::NoLeadBytes);
        int lengthMs = mediainfo::kDefaultLengthMs;
        MemorySource source(bytes);
        mediainfo::ReadHeader(source, title.data(), &lengthMs);
        std::printf("%d\t%s\n", lengthMs, Hex(title.data()).c_str());
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--print") return Print(argc - 2, argv + 2);
    for (int i = 1; i < argc; ++i) {
        std::string path = argv[i];
        std::vector<std::string> files = IsDirectory(path) ? FilesIn(path) : std::vector<std::string>{path};
        for (const std::string& file : files) {
            Bytes bytes = ReadBytes(file);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++passed;
        }
        if (IsDirectory(path)) CheckExpected(path);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
