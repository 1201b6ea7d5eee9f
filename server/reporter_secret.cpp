#include "reporter_secret.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tamberly {
namespace {

constexpr std::size_t kKeyBytes = 32;
constexpr std::size_t kHashBytes = 16;

std::string hex(const unsigned char* data, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 0xf];
    }
    return out;
}

std::runtime_error failed(const std::string& path, const std::string& what) {
    return std::runtime_error("reporter secret " + path + ": " + what);
}

// Writes a new key beside the path and links it into place: linking never replaces a key another instance made
// meanwhile, and a crash leaves no half-written key.
void create(const std::string& path) {
    unsigned char key[kKeyBytes];
    if (getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key))
        throw failed(path, std::string("cannot make a random key: ") + std::strerror(errno));
    const std::string text = hex(key, sizeof key) + "\n";
    const std::string temporary = path + ".new-" + std::to_string(::getpid());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw failed(path, std::string("cannot create it: ") + std::strerror(errno));
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    const int linked = written ? ::link(temporary.c_str(), path.c_str()) : -1;
    const int linkError = errno;
    ::unlink(temporary.c_str());
    if (!written)
        throw failed(path, "cannot write it");
    if (linked != 0 && linkError != EEXIST)
        throw failed(path, std::string("cannot create it: ") + std::strerror(linkError));
}

} // namespace

ReporterSecret ReporterSecret::load(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno != ENOENT)
            throw failed(path, std::string("cannot read it: ") + std::strerror(errno));
        create(path);
    }
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw failed(path, std::string("cannot read it: ") + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    if (text.size() != 2 * kKeyBytes || text.find_first_not_of("0123456789abcdef") != std::string::npos)
        throw failed(path, "does not hold a key (64 hexadecimal digits); delete it to have a new one made");
    return ReporterSecret(text);
}

std::string ReporterSecret::hash(const std::string& reporter) const {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    HMAC(EVP_sha256(), m_key.data(), static_cast<int>(m_key.size()),
         reinterpret_cast<const unsigned char*>(reporter.data()), reporter.size(), out, &size);
    return hex(out, std::min<std::size_t>(size, kHashBytes));
}

} // namespace tamberly
