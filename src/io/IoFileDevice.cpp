#include <io/IoFileDevice.h>
#include <io/StringConversions.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <system_error>
#include <utility>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Zan {

namespace {

[[noreturn]] void throwErrno(const std::string& what, int error = errno) {
    throw std::system_error(error != 0 ? error : EIO, std::generic_category(), what);
}

// The file a message speaks of, quoted; a name that has no UTF-8 form is not spelled out.
std::string quoted(const std::wstring& name) {
    try {
        return "\"" + StringConversions::wstring_to_utf8(name) + "\"";
    } catch (const std::range_error&) {
        return "a file whose name is not valid text";
    }
}

} // namespace

class ZAN_HIDDEN IoFileDevice::Impl : public IoBaseDevice::Impl {
public:
    // Direction of the last transfer: stdio needs a positioning call between a write and a read.
    enum class Last { None, Read, Write };

    ~Impl() override {
        if (stream)
            std::fclose(stream);
        for (const auto& [address, mapping] : mappings)
            ::munmap(static_cast<char*>(address) - mapping.first, mapping.second);
    }

    void close() override {
        if (!stream) {
            mode = NotOpen;
            return;
        }
        FILE* s = std::exchange(stream, nullptr);
        mode = NotOpen;
        last = Last::None;
        errno = 0;
        const bool flushed = std::fflush(s) == 0;
        const int flushError = errno;
        const bool closed = std::fclose(s) == 0;
        if (!flushed)
            throwErrno("IoFileDevice::close: flush failed for " + quoted(name), flushError);
        if (!closed)
            throwErrno("IoFileDevice::close: close failed for " + quoted(name));
    }

    bool open(OpenMode m) override {
        if (stream)
            throw std::logic_error("already open");
        const char* streamMode = nullptr;
        switch (m) {
        case Read:
            streamMode = "rb";
            break;
        case Write:
            streamMode = "wb";
            break;
        case Append:
            streamMode = "ab";
            break;
        case Read | Update:
            streamMode = "r+b";
            break;
        case Write | Update:
            streamMode = "w+b";
            break;
        case Append | Update:
            streamMode = "a+b";
            break;
        default:
            return false;
        }
        if (mode != NotOpen)
            throw std::logic_error("already open");
        const std::string path = StringConversions::wstring_to_utf8(name);
        FILE* s = std::fopen(path.c_str(), streamMode);
        if (!s)
            return false;
        stream = s;
        mode = m;
        last = Last::None;
        return true;
    }

    FILE* openStream(const char* message) const {
        if (!stream)
            throw std::logic_error(message);
        return stream;
    }

    // Inserts the positioning call that stdio requires when the transfer direction changes.
    void turn(Last next) {
        if (last != Last::None && last != next && ::fseeko(stream, 0, SEEK_CUR) != 0)
            throwErrno("IoFileDevice: seek failed in " + quoted(name));
        last = next;
    }

    // Throws the error of a transfer of n bytes that stopped after count of them.
    [[noreturn]] void throwTransferError(const char* operation, unsigned long n, std::size_t count) const {
        const int error = errno;
        const off_t after = ::ftello(stream);
        const std::string at = after >= 0 ? "at offset " + std::to_string(after - static_cast<off_t>(count))
                                          : "at an unknown offset";
        throwErrno(std::string("IoFileDevice::") + operation + ": " + std::to_string(n) + " bytes " + at +
                       " of " + quoted(name) + " (" + std::to_string(count) + " done)",
                   error);
    }

    std::wstring name;
    FILE* stream = nullptr;
    Last last = Last::None;
    // Address handed out -> (distance past the page-aligned start, length of the whole mapping).
    std::map<void*, std::pair<int, unsigned long>> mappings;
};

IoFileDevice::IoFileDevice() : IoBaseDevice(std::make_unique<Impl>()) {}

IoFileDevice::IoFileDevice(const std::wstring& name) : IoFileDevice() {
    d()->name = name;
}

IoFileDevice::IoFileDevice(const std::string& name) : IoFileDevice() {
    d()->name = StringConversions::utf8_to_wstring(name);
}

IoFileDevice::~IoFileDevice() = default;

IoFileDevice::Impl* IoFileDevice::d() const {
    return static_cast<Impl*>(baseImpl());
}

std::wstring IoFileDevice::fileName() const {
    return d()->name;
}

std::string IoFileDevice::fileNameUtf8() const {
    return StringConversions::wstring_to_utf8(d()->name);
}

void IoFileDevice::setFileName(const std::wstring& name) {
    d()->name = name;
}

void IoFileDevice::setFileName(const std::string& name) {
    d()->name = StringConversions::utf8_to_wstring(name);
}

int IoFileDevice::handle() const {
    const int fd = ::fileno(d()->openStream("device is not open"));
    if (fd < 0)
        throwErrno("IoFileDevice::handle");
    return fd;
}

int IoFileDevice::flush() {
    FILE* s = d()->openStream("device is not open");
    if (std::fflush(s) != 0 && std::ferror(s))
        throwErrno("IoFileDevice::flush");
    return 0;
}

double IoFileDevice::fileCreationTime() const {
    struct stat status {};
    if (::fstat(handle(), &status) != 0)
        throwErrno("IoFileDevice::fileCreationTime");
    return static_cast<double>(status.st_ctim.tv_sec) / 86400.0 + 2440587.5;
}

IoDevice::OpenMode IoFileDevice::openMode() const {
    return d()->mode;
}

bool IoFileDevice::atEnd() const {
    return std::feof(d()->openStream("device is not open")) != 0;
}

void IoFileDevice::close() {
    d()->close();
}

bool IoFileDevice::open(OpenMode m) {
    return d()->open(m);
}

long IoFileDevice::pos() const {
    const off_t position = ::ftello(d()->openStream("device is not open"));
    if (position < 0)
        throwErrno("IoFileDevice::pos");
    return position;
}

void IoFileDevice::seek(long offset, Origin origin) {
    FILE* s = d()->openStream("device is not open");
    if (::fseeko(s, offset, origin) != 0)
        throwErrno("IoFileDevice::seek: to offset " + std::to_string(offset) + " from " +
                   (origin == Begin     ? "the beginning"
                    : origin == Current ? "the position"
                                        : "the end") +
                   " of " + quoted(d()->name));
    d()->last = Impl::Last::None;
}

long IoFileDevice::size() {
    FILE* s = d()->openStream("device is not open");
    const off_t here = ::ftello(s);
    if (here < 0 || ::fseeko(s, 0, SEEK_END) != 0)
        throwErrno("IoFileDevice::size");
    const off_t end = ::ftello(s);
    if (end < 0 || ::fseeko(s, here, SEEK_SET) != 0)
        throwErrno("IoFileDevice::size");
    d()->last = Impl::Last::None;
    return end;
}

unsigned long IoFileDevice::readData(void* buffer, unsigned long n) {
    Impl* impl = d();
    if ((impl->mode & (Read | Update)) == 0 || !impl->stream)
        throw std::logic_error("device is not open for read");
    impl->turn(Impl::Last::Read);
    const std::size_t count = std::fread(buffer, 1, n, impl->stream);
    if (count < n && std::ferror(impl->stream))
        impl->throwTransferError("readData", n, count);
    return count;
}

unsigned long IoFileDevice::writeData(const void* buffer, unsigned long n) {
    Impl* impl = d();
    if ((impl->mode & (Write | Append | Update)) == 0 || !impl->stream)
        throw std::logic_error("device is not open for write");
    impl->turn(Impl::Last::Write);
    const std::size_t count = std::fwrite(buffer, 1, n, impl->stream);
    if (count < n && std::ferror(impl->stream))
        impl->throwTransferError("writeData", n, count);
    return count;
}

void* IoFileDevice::map(long position, unsigned long length) {
    Impl* impl = d();
    if ((impl->mode & (Read | Update)) == 0 || position < 0 || !impl->stream)
        throw std::logic_error("device is not open for read");
    // Pending writes must reach the file before it is mapped, and a mapping beyond the file's end would
    // fault on access instead of failing here.
    if (std::fflush(impl->stream) != 0)
        return nullptr;
    struct stat status {};
    const int fd = ::fileno(impl->stream);
    if (fd < 0 || ::fstat(fd, &status) != 0)
        return nullptr;
    const auto fileSize = static_cast<unsigned long>(status.st_size);
    if (static_cast<unsigned long>(position) > fileSize || length > fileSize - position)
        return nullptr;
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const int offset = static_cast<int>(position % pageSize);
    const unsigned long mappedLength = length + static_cast<unsigned long>(offset);
    int protection = PROT_READ;
    if (impl->mode & (Write | Append | Update))
        protection |= PROT_WRITE;
    void* start = ::mmap(nullptr, mappedLength, protection, MAP_SHARED, fd, position - offset);
    if (start == MAP_FAILED)
        return nullptr;
    void* address = static_cast<char*>(start) + offset;
    auto [it, inserted] = impl->mappings.insert_or_assign(address, std::make_pair(offset, mappedLength));
    (void)it;
    (void)inserted;
    return address;
}

void IoFileDevice::unmap(void* address) {
    Impl* impl = d();
    const auto it = impl->mappings.find(address);
    if (it == impl->mappings.end())
        throw std::logic_error("invalid address");
    if (::munmap(static_cast<char*>(address) - it->second.first, it->second.second) != 0)
        throw std::logic_error("invalid address");
    impl->mappings.erase(it);
}

} // namespace Zan
