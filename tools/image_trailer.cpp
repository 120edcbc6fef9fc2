// image-trailer: appends or verifies the 80-byte integrity trailer of an installer image.
// The digest is HMAC-SHA1 over every byte before the trailer, as 40 lowercase hex digits.

#include "file_io.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char *kBegin = "======HMAC_BEG=====[";
constexpr const char *kEnd = "]=====HAMC_END======";
constexpr size_t kFrameSize = 20;
constexpr size_t kDigestHexSize = 40;
constexpr size_t kTrailerSize = kFrameSize + kDigestHexSize + kFrameSize;

const char kUsage[] = "usage: image-trailer sign KEY_FILE INPUT OUTPUT\n"
                      "       image-trailer verify KEY_FILE IMAGE\n"
                      "\n"
                      "sign    writes INPUT followed by the integrity trailer to OUTPUT\n"
                      "verify  checks the trailer at the end of IMAGE; exit 0 and an OK line when it matches\n"
                      "\n"
                      "KEY_FILE holds the HMAC key; one trailing line break is not part of the key.\n";

bool read_key(const char *path, std::string &key)
{
    if (!read_whole_file(path, key))
        return false;
    if (!key.empty() && key.back() == '\n')
        key.pop_back();
    return !key.empty();
}

std::string hmac_sha1_hex(const std::string &key, const char *data, size_t size)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (!HMAC(EVP_sha1(), key.data(), int(key.size()), reinterpret_cast<const unsigned char *>(data), size, digest,
              &digestSize))
        return {};
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < digestSize; ++i) {
        text += hex[digest[i] >> 4];
        text += hex[digest[i] & 0xf];
    }
    return text;
}

int sign(const char *keyFile, const char *input, const char *output)
{
    std::string key, image;
    if (!read_key(keyFile, key)) {
        fprintf(stderr, "image-trailer: cannot read a key from %s\n", keyFile);
        return 2;
    }
    if (!read_whole_file(input, image)) {
        fprintf(stderr, "image-trailer: cannot read %s\n", input);
        return 2;
    }
    const std::string digest = hmac_sha1_hex(key, image.data(), image.size());
    if (digest.size() != kDigestHexSize) {
        fprintf(stderr, "image-trailer: HMAC-SHA1 failed\n");
        return 2;
    }
    if (!replace_file(output, image + kBegin + digest + kEnd, 0755)) {
        fprintf(stderr, "image-trailer: cannot write %s\n", output);
        return 2;
    }
    return 0;
}

int verify(const char *keyFile, const char *imagePath)
{
    std::string key, image;
    if (!read_key(keyFile, key)) {
        fprintf(stderr, "image-trailer: cannot read a key from %s\n", keyFile);
        return 2;
    }
    if (!read_whole_file(imagePath, image)) {
        fprintf(stderr, "image-trailer: cannot read %s\n", imagePath);
        return 2;
    }
    if (image.size() < kTrailerSize) {
        printf("FAIL %s: shorter than the %zu-byte trailer\n", imagePath, kTrailerSize);
        return 1;
    }
    const size_t body = image.size() - kTrailerSize;
    const std::string trailer = image.substr(body);
    if (trailer.compare(0, kFrameSize, kBegin) != 0
        || trailer.compare(kTrailerSize - kFrameSize, kFrameSize, kEnd) != 0) {
        printf("FAIL %s: no integrity trailer at the end of the file\n", imagePath);
        return 1;
    }
    const std::string stored = trailer.substr(kFrameSize, kDigestHexSize);
    const std::string computed = hmac_sha1_hex(key, image.data(), body);
    if (stored != computed) {
        printf("FAIL %s: digest %s does not match the contents (expected %s)\n", imagePath, stored.c_str(),
               computed.c_str());
        return 1;
    }
    printf("OK %s: HMAC-SHA1 %s over %zu bytes\n", imagePath, computed.c_str(), body);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc == 5 && strcmp(argv[1], "sign") == 0)
        return sign(argv[2], argv[3], argv[4]);
    if (argc == 4 && strcmp(argv[1], "verify") == 0)
        return verify(argv[2], argv[3]);
    fputs(kUsage, stderr);
    return 2;
}
