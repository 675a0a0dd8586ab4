#include "app/SettingsFile.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <optional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
/** UTF-8 in shortest form, nothing beyond U+10FFFF. Whatever passes can be walked a
    character at a time without running past its end. Lone surrogates pass: the framework
    makes them from UTF-16 text with characters beyond the first plane, and writes them so.
*/
bool isWellFormedUtf8 (const juce::uint8* text, size_t size)
{
    for (size_t i = 0; i < size;)
    {
        const auto lead = text[i];

        if (lead < 0x80)
        {
            ++i;
            continue;
        }

        size_t extra;
        juce::uint32 smallest;

        if (lead >= 0xc2 && lead <= 0xdf)      { extra = 1; smallest = 0x80; }
        else if (lead >= 0xe0 && lead <= 0xef) { extra = 2; smallest = 0x800; }
        else if (lead >= 0xf0 && lead <= 0xf4) { extra = 3; smallest = 0x10000; }
        else return false;

        if (size - i <= extra)
            return false;

        juce::uint32 c = lead & (0x3fu >> extra);

        for (size_t k = 1; k <= extra; ++k)
        {
            const auto next = text[i + k];

            if ((next & 0xc0) != 0x80)
                return false;

            c = (c << 6) | (next & 0x3fu);
        }

        if (c < smallest || c > 0x10ffff)
            return false;

        i += extra + 1;
    }

    return true;
}

using namespace settingsLimits;

enum class Bytes { missing, read, refused };

/** Reads the file whole, refusing anything but a regular file of at most maxBytes: a FIFO
    or a device, also one a link points at, is never opened for reading, so nothing blocks
    and nothing without end is read.
*/
Bytes readBounded (const juce::File& file, juce::MemoryBlock& bytes)
{
    const auto path = file.getFullPathName();
    struct stat info {};

    if (path.isEmpty() || ::stat (path.toRawUTF8(), &info) != 0)
        return errno == ENOENT || errno == ENOTDIR || path.isEmpty() ? Bytes::missing : Bytes::refused;

    if (! S_ISREG (info.st_mode))
        return Bytes::refused;

    // Swapped for something else since the look above, it shows in what was opened.
    const auto handle = ::open (path.toRawUTF8(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);

    if (handle < 0)
        return Bytes::refused;

    auto result = Bytes::refused;

    if (::fstat (handle, &info) == 0 && S_ISREG (info.st_mode))
    {
        bytes.setSize (maxBytes + 1);
        size_t total = 0;

        for (;;)
        {
            const auto got = ::read (handle, static_cast<char*> (bytes.getData()) + total, bytes.getSize() - total);

            if (got < 0 && errno == EINTR)
                continue;

            if (got < 0)
                break;

            total += (size_t) got;

            if (got == 0 || total > maxBytes)
            {
                result = total > maxBytes ? Bytes::refused : Bytes::read;
                break;
            }
        }

        bytes.setSize (total);
    }

    ::close (handle);
    return result;
}

/** Reads the binary properties data as the framework does, checking every text first. Only
    data that decodes whole is taken: a count, exactly that many pairs each ending in its zero
    byte, and nothing after them. The framework stops quietly wherever the data runs out.
*/
bool readBinaryProperties (const juce::uint8* data, size_t size, juce::StringPairArray& properties)
{
    if (size < 4)
        return false;

    const auto count = (int) juce::ByteOrder::littleEndianInt (data);

    if (count < 0 || count > maxElements)
        return false;

    size_t position = 4;

    for (int i = 0; i < count; ++i)
    {
        juce::String keyAndValue[2];

        for (auto& s : keyAndValue)
        {
            const auto* start = data + position;
            const auto* end = static_cast<const juce::uint8*> (std::memchr (start, 0, size - position));

            if (end == nullptr)
                return false;

            const auto length = (size_t) (end - start);

            if (! isWellFormedUtf8 (start, length))
                return false;

            s = juce::String::fromUTF8 (reinterpret_cast<const char*> (start), (int) length);
            position += length + 1;
        }

        if (keyAndValue[0].isNotEmpty())
            properties.set (keyAndValue[0], keyAndValue[1]);
    }

    return position == size;
}

/** After an '&': one of the predefined entities or a character reference, as the framework
    reads them (names in any case), which it then steps over. Anything else would send the
    framework looking for a document type.
*/
bool skipPredefinedEntity (juce::CharPointer_UTF8& p)
{
    for (auto* name : { "amp;", "quot;", "apos;", "lt;", "gt;" })
    {
        const auto length = (int) std::strlen (name);

        if (p.compareIgnoreCaseUpTo (juce::CharPointer_ASCII (name), length) == 0)
        {
            p += length;
            return true;
        }
    }

    if (*p != '#')
        return false;

    ++p;
    const bool hex = *p == 'x' || *p == 'X';

    if (hex)
        ++p;

    juce::int64 code = 0;
    int digits = 0;

    for (; *p != ';'; ++p)
    {
        const auto value = hex ? juce::CharacterFunctions::getHexDigitValue (*p) : (*p >= '0' && *p <= '9' ? (int) (*p - '0') : -1);

        if (value < 0 || ++digits > 8)
            return false;

        code = code * (hex ? 16 : 10) + value;
    }

    ++p;
    return digits > 0 && code > 0 && code <= 0x10ffff;
}

/** Steps past the next occurrence of the terminator; false if there is none. */
bool skipPast (juce::CharPointer_UTF8& p, const char* terminator)
{
    const auto index = p.indexOf (juce::CharPointer_ASCII (terminator));

    if (index < 0)
        return false;

    p += index + (int) std::strlen (terminator);
    return true;
}

/** Whether the XML text keeps within what the framework's parser survives: no document
    type or other declaration, no entity but the predefined ones, nesting and element count
    bounded. Tags are followed only as far as needed for that; anything that leaves their
    reading in doubt fails.
*/
bool xmlIsWithinBounds (const juce::String& text)
{
    auto p = text.getCharPointer();
    int depth = 0, elements = 0;

    for (;;)
    {
        const auto c = p.getAndAdvance();

        if (c == 0)
            return true;

        if (c == '&')
        {
            if (! skipPredefinedEntity (p))
                return false;

            continue;
        }

        if (c != '<')
            continue;

        if (*p == '/')
        {
            if (--depth < 0 || ! skipPast (p, ">"))
                return false;

            continue;
        }

        // Each end is looked for after the opening, as the framework does: "<?>" and "<!-->" open.
        if (*p == '?')
        {
            ++p;

            if (! skipPast (p, "?>"))
                return false;

            continue;
        }

        if (*p == '!')
        {
            if (p.compareUpTo (juce::CharPointer_ASCII ("!--"), 3) == 0)
            {
                p += 3;

                if (! skipPast (p, "-->"))
                    return false;
            }
            else if (p.compareUpTo (juce::CharPointer_ASCII ("![CDATA["), 8) == 0)
            {
                p += 8;

                if (! skipPast (p, "]]>"))
                    return false;
            }
            else
            {
                return false; // a document type, or another declaration
            }

            continue;
        }

        if (++elements > maxElements)
            return false;

        juce::juce_wchar quote = 0, previous = 0;

        for (;;)
        {
            const auto t = p.getAndAdvance();

            if (t == 0 || (quote == 0 && t == '<'))
                return false;

            if (t == '&')
            {
                if (! skipPredefinedEntity (p))
                    return false;
            }
            else if (quote != 0)
            {
                if (t == quote)
                    quote = 0;
            }
            else if (t == '"' || t == '\'')
            {
                quote = t;
            }
            else if (t == '>')
            {
                break;
            }

            previous = t;
        }

        if (previous != '/' && ++depth > maxNesting)
            return false;
    }
}

/** The text as the framework makes it of a file's bytes: UTF-16 with a byte order mark
    converted, anything else taken as UTF-8, after a UTF-8 byte order mark if there is one.
    Nothing when it is too short to parse, or not well-formed UTF-8.
*/
std::optional<juce::String> xmlText (const juce::MemoryBlock& bytes)
{
    const auto* data = static_cast<const juce::uint8*> (bytes.getData());
    const auto size = bytes.getSize();

    if (size <= 2)
        return std::nullopt;

    if (juce::CharPointer_UTF16::isByteOrderMarkBigEndian (data) || juce::CharPointer_UTF16::isByteOrderMarkLittleEndian (data))
    {
        // The framework adds a terminating zero byte before converting.
        juce::MemoryBlock terminated (bytes);
        terminated.append ("", 1);
        return juce::String::createStringFromData (terminated.getData(), (int) terminated.getSize());
    }

    const size_t start = juce::CharPointer_UTF8::isByteOrderMark (data) ? 3 : 0;

    if (! isWellFormedUtf8 (data + start, size - start))
        return std::nullopt;

    return juce::String::fromUTF8 (reinterpret_cast<const char*> (data + start), (int) (size - start));
}

/** The properties of an XML settings text, as the framework takes them from its elements. */
bool readXmlProperties (const juce::MemoryBlock& bytes, juce::StringPairArray& properties)
{
    const auto text = xmlText (bytes);

    if (! text.has_value() || ! xmlIsWithinBounds (*text))
        return false;

    const auto doc = juce::parseXMLIfTagMatches (*text, "PROPERTIES");

    if (doc == nullptr)
        return false;

    for (auto* e : doc->getChildWithTagNameIterator ("VALUE"))
    {
        const auto name = e->getStringAttribute ("name");

        if (name.isNotEmpty())
            properties.set (name, e->getFirstChildElement() != nullptr
                                      ? e->getFirstChildElement()->toString (juce::XmlElement::TextFormat().singleLine().withoutHeader())
                                      : e->getStringAttribute ("val"));
    }

    return true;
}

bool readProperties (const juce::MemoryBlock& bytes, juce::StringPairArray& properties)
{
    const auto* data = static_cast<const juce::uint8*> (bytes.getData());
    const auto size = bytes.getSize();

    if (size >= 4)
    {
        const auto magic = (int) juce::ByteOrder::littleEndianInt (data);

        if (magic == (int) juce::ByteOrder::makeInt ('P', 'R', 'O', 'P'))
            return readBinaryProperties (data + 4, size - 4, properties);

        if (magic == (int) juce::ByteOrder::makeInt ('C', 'P', 'R', 'P'))
        {
            juce::MemoryInputStream afterMagic (data + 4, size - 4, false);
            juce::GZIPDecompressorInputStream unzipped (afterMagic);
            juce::MemoryOutputStream decompressed;
            decompressed.writeFromInputStream (unzipped, (juce::int64) maxDecompressedBytes + 1);

            // Bytes that do not decompress give none, which hold no count either.
            if (decompressed.getDataSize() > maxDecompressedBytes)
                return false;

            return readBinaryProperties (static_cast<const juce::uint8*> (decompressed.getData()), decompressed.getDataSize(), properties);
        }
    }

    return readXmlProperties (bytes, properties);
}
} // namespace

SettingsFileRead readSettingsFile (const juce::File& file, juce::StringPairArray& properties)
{
    juce::MemoryBlock bytes;
    const auto outcome = readBounded (file, bytes);

    if (outcome != Bytes::read)
        return outcome == Bytes::missing ? SettingsFileRead::missing : SettingsFileRead::damaged;

    // Filled apart first, so that a file failing half-way leaves nothing of it behind.
    auto loaded = properties;
    loaded.clear();

    if (! readProperties (bytes, loaded))
        return SettingsFileRead::damaged;

    properties = loaded;
    return SettingsFileRead::loaded;
}

//==============================================================================
SettingsFile::SettingsFile (const juce::PropertiesFile::Options& o)
    : juce::PropertySet (o.ignoreCaseOfKeyNames), file (o.getDefaultFile()), options (o)
{
    removeStaleTemporaryFiles (file);

    if (readSettingsFile (file, getAllProperties()) == SettingsFileRead::damaged)
        std::cerr << "Tarvik Panel: the settings file " << file.getFullPathName()
                  << " is damaged; starting from the defaults" << std::endl;
}

SettingsFile::~SettingsFile()
{
    saveIfNeeded();
}

void SettingsFile::removeStaleTemporaryFiles (const juce::File& settingsFile)
{
    removeStaleTemporaryFiles (settingsFile, ::geteuid());
}

void SettingsFile::removeStaleTemporaryFiles (const juce::File& settingsFile, uid_t owner)
{
    // The framework's temporary file for "<name><ext>": "<name>_temp<hex><ext>", with a
    // number after the hex digits should that name be taken already.
    const auto prefix = settingsFile.getFileNameWithoutExtension() + "_temp";
    const auto extension = settingsFile.getFileExtension();

    for (const auto& entry : juce::RangedDirectoryIterator (settingsFile.getParentDirectory(), false,
                                                            prefix + "*" + extension, juce::File::findFiles))
    {
        const auto candidate = entry.getFile();
        const auto name = candidate.getFileName();
        const auto middle = name.substring (prefix.length(), name.length() - extension.length());
        struct stat info {};

        if (! name.startsWith (prefix) || ! name.endsWith (extension) || middle.isEmpty() || middle.length() > 20
            || ! middle.containsOnly ("0123456789abcdef_"))
            continue;

        const auto path = candidate.getFullPathName();

        if (::lstat (path.toRawUTF8(), &info) == 0 && S_ISREG (info.st_mode) && info.st_uid == owner)
            ::unlink (path.toRawUTF8());
    }
}

void SettingsFile::propertyChanged()
{
    const juce::ScopedLock sl (getLock());
    needsWriting = true;

    if (options.millisecondsBeforeSaving > 0)
        startTimer (options.millisecondsBeforeSaving);
    else if (options.millisecondsBeforeSaving == 0)
        saveIfNeeded();
}

void SettingsFile::timerCallback()
{
    saveIfNeeded();
}

bool SettingsFile::saveIfNeeded()
{
    const juce::ScopedLock sl (getLock());
    return ! needsWriting || save();
}

bool SettingsFile::save()
{
    const juce::ScopedLock sl (getLock());
    stopTimer();

    if (options.doNotSave || file == juce::File() || file.isDirectory() || ! file.getParentDirectory().createDirectory())
        return false;

    const auto& values = getAllProperties();
    bool written = false;

    if (options.storageFormat == juce::PropertiesFile::storeAsXML)
    {
        juce::XmlElement doc ("PROPERTIES");

        for (int i = 0; i < values.size(); ++i)
        {
            auto* e = doc.createNewChildElement ("VALUE");
            e->setAttribute ("name", values.getAllKeys()[i]);

            // A value that reads as XML is stored as such, as the framework does.
            if (auto child = juce::parseXML (values.getAllValues()[i]))
                e->addChildElement (child.release());
            else
                e->setAttribute ("val", values.getAllValues()[i]);
        }

        written = doc.writeTo (file, {});
    }
    else
    {
        juce::TemporaryFile temporary (file);

        {
            juce::FileOutputStream out (temporary.getFile());
            const bool compressed = options.storageFormat == juce::PropertiesFile::storeAsCompressedBinary;
            juce::MemoryOutputStream body;
            body.writeInt (values.size());

            for (int i = 0; i < values.size(); ++i)
            {
                body.writeString (values.getAllKeys()[i]);
                body.writeString (values.getAllValues()[i]);
            }

            written = out.openedOk() && out.write (compressed ? "CPRP" : "PROP", 4);

            if (written && compressed)
            {
                juce::GZIPCompressorOutputStream zipped (out, 9);
                written = zipped.write (body.getData(), body.getDataSize());
            }
            else if (written)
            {
                written = out.write (body.getData(), body.getDataSize());
            }

            out.flush();
            written = written && out.getStatus().wasOk();
        }

        written = written && temporary.overwriteTargetFileWithTemporary();
    }

    if (written)
        needsWriting = false;

    return written;
}
