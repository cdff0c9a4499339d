// Writes a contacts file of generated cards to standard output, the same bytes for the same
// seed on every machine: the benchmark's corpus.
//
//   vcardgen [--plain] [--seed N] COUNT
//
// Default mode: the mix a phone-book export brings. vCard 3.0 and 4.0 cards with Polish names,
// vCard 2.1 cards as phones write them (the name quoted-printable, every byte "=XX", a soft line
// break every 23 bytes, sometimes inside a UTF-8 sequence), about 2% names that an earlier card
// already had, about 1% cards with a base64 photo of a few KB, about 0.5% cards without FN
// (only N, as phones do). Plain mode: every name a plain ASCII "FN:" line, no name twice and
// every card named, so that every splitter writes the same files. CR LF line ends throughout.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

// splitmix64: tiny, and unlike <random>'s distributions gives the same numbers everywhere.
class Random
{
public:
    explicit Random(uint64_t seed) : m_state(seed) { }

    uint64_t next()
    {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 <= result < bound
    uint32_t below(uint32_t bound) { return uint32_t((next() >> 32) * bound >> 32); }
    // True with the given chance in parts per thousand.
    bool chance(uint32_t perMille) { return below(1000) < perMille; }
    template<typename T, size_t N>
    const T &pick(const T (&items)[N])
    {
        return items[below(uint32_t(N))];
    }

private:
    uint64_t m_state;
};

const char *const femaleNames[] = {
    "Anna",      "Małgorzata", "Agnieszka", "Krystyna",    "Barbara", "Ewa",      "Elżbieta",
    "Zofia",     "Teresa",     "Magdalena", "Joanna",      "Jadwiga", "Danuta",   "Katarzyna",
    "Halina",    "Irena",      "Grażyna",   "Bożena",      "Urszula", "Jolanta",  "Żaneta",
    "Dorota",    "Beata",      "Marianna",  "Łucja",       "Renata",  "Wiesława", "Iwona",
    "Michalina", "Bronisława", "Jagoda",    "Świętosława",
};
const char *const maleNames[] = {
    "Piotr",      "Krzysztof", "Andrzej",    "Tomasz",    "Paweł",    "Michał",     "Marcin",
    "Łukasz",     "Grzegorz",  "Józef",      "Wojciech",  "Jędrzej",  "Bartłomiej", "Zbigniew",
    "Maciej",     "Mateusz",   "Stanisław",  "Władysław", "Mirosław", "Ryszard",    "Kazimierz",
    "Przemysław", "Bolesław",  "Mieczysław", "Jarosław",  "Sławomir", "Zdzisław",   "Dariusz",
    "Adam",       "Jacek",     "Ignacy",     "Bożydar",
};
// A surname is a root, a middle and an ending that agrees with the person's sex.
const char *const surnameRoots[] = {
    "Wiś",    "Kow",   "Now",   "Żół",   "Grzę",   "Brzę",   "Szcz",   "Łęcz",   "Dąb",    "Król",
    "Ćwi",    "Śląs",  "Zió",   "Maz",   "Lew",    "Wój",    "Kamiń",  "Zieliń", "Szym",   "Woź",
    "Dąbr",   "Koz",   "Jank",  "Mazur", "Krawcz", "Pio",    "Grab",   "Paw",    "Michal", "Ziel",
    "Wróbl",  "Jasiń", "Sikor", "Baran", "Rut",    "Czarn",  "Kubi",   "Głow",   "Stęp",   "Sob",
    "Tomasz", "Kaczm", "Żak",   "Przyb", "Błasz",  "Chmiel", "Pietrz", "Gór",
};
const char *const surnameMiddles[] = {
    "",    "al",  "el", "ol",  "ul", "ar",  "er",  "or",  "ur", "an",  "en",  "on",
    "in",  "ań",  "eń", "ęb",  "ąb", "ow",  "ew",  "ic",  "yc", "ak",  "ek",  "ik",
    "usz", "ysz", "ał", "ył",  "ęt", "ąt",  "ór",  "ot",  "ut", "ec",  "ąż",  "óż",
    "ich", "och", "ed", "ład", "ąk", "ośl", "ież", "ycz", "uś", "ecz", "opi", "amr",
};
struct Ending
{
    const char *male;
    const char *female;
};
const Ending surnameEndings[] = {
    { "ski", "ska" },     { "cki", "cka" },     { "wicz", "wicz" },
    { "czyk", "czyk" },   { "ak", "ak" },       { "ek", "ek" },
    { "ik", "ik" },       { "ewski", "ewska" }, { "owski", "owska" },
    { "iński", "ińska" }, { "ała", "ała" },     { "ny", "na" },
    { "ecki", "ecka" },   { "uk", "uk" },       { "arz", "arz" },
    { "ko", "ko" },       { "czak", "czak" },   { "ień", "ień" },
    { "ąb", "ąb" },       { "ys", "ys" },       { "iec", "iec" },
    { "ański", "ańska" }, { "yński", "yńska" }, { "yszczykiewicz", "yszczykiewicz" },
};
const char *const streets[] = {
    "Marszałkowska", "Piłsudskiego", "Kościuszki", "Żeromskiego",   "Słowackiego", "Mickiewicza",
    "Wrocławska",    "Grunwaldzka",  "Długa",      "Świętokrzyska", "Łąkowa",      "Ogrodowa",
};
const char *const cities[] = {
    "Warszawa", "Kraków",    "Łódź",   "Wrocław",   "Poznań",   "Gdańsk",
    "Szczecin", "Bydgoszcz", "Lublin", "Białystok", "Katowice", "Zielona Góra",
};
const char *const companies[] = {
    "Przedsiębiorstwo Handlowe Żuraw Sp. z o.o.",
    "Urząd Miasta",
    "Szkoła Podstawowa nr 12",
    "Biuro Rachunkowe Sójka",
    "Zakład Usług Różnych",
    "Politechnika Łódzka",
};
const char *const domains[] = { "example.pl", "poczta.example", "firma.example.com",
                                "mail.example.org" };

// The ASCII letters Polish letters are written with where only ASCII goes (e-mail addresses,
// plain mode).
std::string ascii(const std::string &text)
{
    static const char *const pairs[][2] = {
        { "ą", "a" }, { "ć", "c" }, { "ę", "e" }, { "ł", "l" }, { "ń", "n" }, { "ó", "o" },
        { "ś", "s" }, { "ź", "z" }, { "ż", "z" }, { "Ą", "A" }, { "Ć", "C" }, { "Ę", "E" },
        { "Ł", "L" }, { "Ń", "N" }, { "Ó", "O" }, { "Ś", "S" }, { "Ź", "Z" }, { "Ż", "Z" },
    };
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto &pair : pairs) {
            const size_t length = std::strlen(pair[0]);
            if (text.compare(i, length, pair[0]) == 0) {
                out += pair[1];
                i += length;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

std::string lower(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

struct Person
{
    std::string given;
    std::string middle; // a second given name, often empty
    std::string surname;
    std::string name; // what FN says
};

// A person is drawn from a seed of its own, so that a name can come again from its seed alone.
Person personFrom(uint64_t seed, bool plain)
{
    Random random(seed);
    const bool female = random.chance(500);
    Person person;
    person.given = female ? random.pick(femaleNames) : random.pick(maleNames);
    if (random.chance(150))
        person.middle = female ? random.pick(femaleNames) : random.pick(maleNames);
    const Ending &ending = random.pick(surnameEndings);
    person.surname = std::string(random.pick(surnameRoots)) + random.pick(surnameMiddles)
            + (female ? ending.female : ending.male);
    if (plain) {
        person.given = ascii(person.given);
        person.middle = ascii(person.middle);
        person.surname = ascii(person.surname);
    }
    person.name = person.given + (person.middle.empty() ? "" : " ") + person.middle + " "
            + person.surname;
    return person;
}

constexpr const char *crlf = "\r\n";

std::string digits(Random &random, int count)
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += char('0' + random.below(10));
    return text;
}

std::string uuid(Random &random)
{
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (int i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20)
            text += '-';
        text += hex[random.below(16)];
    }
    return text;
}

// Every byte as "=XX", and "=" CR LF after each 23 bytes, as phones export vCard 2.1.
std::string quotedPrintable(const std::string &text, int &bytesOnLine)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        if (bytesOnLine == 23) {
            out += "=";
            out += crlf;
            bytesOnLine = 0;
        }
        const auto byte = static_cast<unsigned char>(c);
        out += '=';
        out += hex[byte >> 4];
        out += hex[byte & 15];
        ++bytesOnLine;
    }
    return out;
}

std::string base64(const std::string &bytes)
{
    static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t chunk = uint32_t(static_cast<unsigned char>(bytes[i])) << 16;
        if (i + 1 < bytes.size())
            chunk |= uint32_t(static_cast<unsigned char>(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size())
            chunk |= uint32_t(static_cast<unsigned char>(bytes[i + 2]));
        out += table[(chunk >> 18) & 63];
        out += table[(chunk >> 12) & 63];
        out += i + 1 < bytes.size() ? table[(chunk >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? table[chunk & 63] : '=';
    }
    return out;
}

// A few KB that start like a JPEG file.
std::string photoBase64(Random &random)
{
    std::string bytes = "\xFF\xD8\xFF\xE0";
    const uint32_t size = 2000 + random.below(4000);
    while (bytes.size() < size)
        bytes += char(random.below(256));
    return base64(bytes);
}

// vCard 3.0 and 4.0 fold long lines at 75 bytes; the continuation starts with a space.
std::string folded(const std::string &line)
{
    std::string out;
    size_t start = 0;
    size_t width = 75;
    while (line.size() - start > width) {
        out += line.substr(start, width) + crlf + " ";
        start += width;
        width = 74;
    }
    return out + line.substr(start) + crlf;
}

void addEmail(std::string &card, Random &random, const Person &person, const char *property)
{
    card += property;
    card += lower(ascii(person.given)) + "." + lower(ascii(person.surname));
    if (random.chance(300))
        card += digits(random, 2);
    card += "@" + std::string(random.pick(domains)) + crlf;
}

std::string card30(Random &random, const Person &person, bool named, bool photo)
{
    std::string card = "BEGIN:VCARD\r\nVERSION:3.0\r\n";
    card += "N:" + person.surname + ";" + person.given + ";" + person.middle + ";;" + crlf;
    if (named)
        card += "FN:" + person.name + crlf;
    card += "TEL;TYPE=CELL:+48 " + digits(random, 3) + " " + digits(random, 3) + " "
            + digits(random, 3) + crlf;
    if (random.chance(600))
        card += "TEL;TYPE=HOME:+48 " + digits(random, 2) + " " + digits(random, 3) + " "
                + digits(random, 2) + " " + digits(random, 2) + crlf;
    if (random.chance(800))
        addEmail(card, random, person, "EMAIL;TYPE=INTERNET:");
    if (random.chance(400))
        card += folded("ADR;TYPE=HOME:;;ul. " + std::string(random.pick(streets)) + " "
                       + std::to_string(1 + random.below(120)) + ";" + random.pick(cities) + ";;"
                       + digits(random, 2) + "-" + digits(random, 3) + ";Polska");
    if (random.chance(250))
        card += std::string("ORG:") + random.pick(companies) + crlf;
    if (random.chance(200))
        card += "BDAY:19" + std::to_string(40 + random.below(60)) + "-0"
                + std::to_string(1 + random.below(9)) + "-1" + std::to_string(random.below(10))
                + crlf;
    if (photo)
        card += folded("PHOTO;ENCODING=b;TYPE=JPEG:" + photoBase64(random));
    card += "UID:" + uuid(random) + crlf;
    card += "REV:2024-0" + std::to_string(1 + random.below(9)) + "-1"
            + std::to_string(random.below(10)) + "T12:00:00Z" + crlf;
    return card + "END:VCARD\r\n";
}

std::string card40(Random &random, const Person &person, bool named, bool photo)
{
    std::string card = "BEGIN:VCARD\r\nVERSION:4.0\r\n";
    card += "N:" + person.surname + ";" + person.given + ";" + person.middle + ";;" + crlf;
    if (named)
        card += "FN:" + person.name + crlf;
    card += "TEL;VALUE=uri;TYPE=\"voice,cell\":tel:+48-" + digits(random, 3) + "-"
            + digits(random, 3) + "-" + digits(random, 3) + crlf;
    if (random.chance(400))
        card += "TEL;VALUE=uri;TYPE=home:tel:+48-" + digits(random, 2) + "-" + digits(random, 3)
                + "-" + digits(random, 2) + "-" + digits(random, 2) + crlf;
    if (random.chance(700))
        addEmail(card, random, person, "EMAIL;TYPE=work:");
    if (random.chance(300))
        card += std::string("ORG:") + random.pick(companies) + crlf;
    if (random.chance(300))
        card += std::string("NOTE:Poznany w ") + random.pick(cities) + crlf;
    if (photo)
        card += folded("PHOTO:data:image/jpeg;base64," + photoBase64(random));
    card += "UID:urn:uuid:" + uuid(random) + crlf;
    card += "REV:2024010" + std::to_string(1 + random.below(9)) + "T120000Z" + crlf;
    return card + "END:VCARD\r\n";
}

std::string card21(Random &random, const Person &person, bool named, bool photo, bool plain)
{
    std::string card = "BEGIN:VCARD\r\nVERSION:2.1\r\n";
    if (plain) {
        card += "N:" + person.surname + ";" + person.given + ";" + person.middle + ";;" + crlf;
        if (named)
            card += "FN:" + person.name + crlf;
    } else {
        int bytesOnLine = 0;
        card += "N;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
                + quotedPrintable(person.surname, bytesOnLine) + ";"
                + quotedPrintable(person.given, bytesOnLine) + ";"
                + quotedPrintable(person.middle, bytesOnLine) + ";;" + crlf;
        if (named) {
            bytesOnLine = 0;
            card += "FN;CHARSET=UTF-8;ENCODING=QUOTED-PRINTABLE:"
                    + quotedPrintable(person.name, bytesOnLine) + crlf;
        }
    }
    card += "TEL;CELL:+4860" + digits(random, 7) + crlf;
    if (random.chance(500))
        card += "TEL;HOME:+4822" + digits(random, 7) + crlf;
    if (random.chance(300))
        card += "TEL;WORK:+4861" + digits(random, 7) + crlf;
    if (random.chance(500))
        addEmail(card, random, person, "EMAIL;HOME:");
    if (photo) {
        // Phones indent every base64 line and end the value with an empty line.
        const std::string data = photoBase64(random);
        card += "PHOTO;ENCODING=BASE64;JPEG:";
        card += crlf;
        for (size_t i = 0; i < data.size(); i += 76)
            card += " " + data.substr(i, 76) + crlf;
        card += crlf;
    }
    return card + "END:VCARD\r\n";
}

// FNV-1a: a name's fingerprint, so the set of names so far stays small at a million cards.
uint64_t hash(const std::string &text)
{
    uint64_t h = 0xCBF29CE484222325ull;
    for (const char c : text)
        h = (h ^ static_cast<unsigned char>(c)) * 0x100000001B3ull;
    return h;
}

int usage()
{
    std::fputs("usage: vcardgen [--plain] [--seed N] COUNT\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    bool plain = false;
    uint64_t seed = 1;
    long long count = -1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--plain") == 0) {
            plain = true;
        } else if (std::strcmp(argv[i], "--seed") == 0 && i + 1 < argc) {
            seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            char *end = nullptr;
            count = std::strtoll(argv[i], &end, 10);
            if (*end != '\0' || count < 0)
                return usage();
        }
    }
    if (count < 0)
        return usage();

    Random random(seed);
    std::unordered_set<uint64_t> taken; // hashes of the names so far
    std::vector<uint64_t> named; // the seeds of the named people, for those that come twice
    std::vector<char> buffer(1 << 20);
    std::setvbuf(stdout, buffer.data(), _IOFBF, buffer.size());

    for (long long i = 0; i < count; ++i) {
        const bool again = !plain && !named.empty() && random.chance(20);
        const bool hasName = plain || !random.chance(5);
        const bool photo = random.chance(10);
        const uint32_t version = random.below(100);

        Person person;
        if (again) {
            person = personFrom(named[random.below(uint32_t(named.size()))], plain);
        } else {
            // Redrawn until new: the only names that come twice are the ones chosen to.
            uint64_t personSeed;
            do {
                personSeed = random.next();
                person = personFrom(personSeed, plain);
            } while (!taken.insert(hash(person.name)).second);
            if (hasName)
                named.push_back(personSeed);
        }

        const std::string card = version < 55 ? card30(random, person, hasName, photo)
                : version < 78                ? card21(random, person, hasName, photo, plain)
                                              : card40(random, person, hasName, photo);
        std::fwrite(card.data(), 1, card.size(), stdout);
    }
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}
