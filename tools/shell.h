// sdk-shell's call tables: each subsystem's file registers the library functions it knows.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace shell {

// One argument as written on the line.
struct Null {};
struct Bytes {  // hex:616263
    std::vector<unsigned char> bytes;
};
struct OutBuffer {  // buf:N, reported as a quoted string
    std::vector<char> bytes;
};
struct OutBytes {  // bytes:N, reported as hex: (the first RESULT bytes when the result is a count)
    std::vector<unsigned char> bytes;
};
struct OutInt {  // out:int
    int value = 0;
};
struct OutFloat {  // out:float
    float value = 0;
};
// What a function that returns a text (char *) gave back: reported as the result, quoted, or null.
struct ReturnedText {
    std::optional<std::string> text;
};
using Arg = std::variant<long long, std::string, Null, Bytes, OutBuffer, OutBytes, OutInt, OutFloat, ReturnedText>;

// Typed access to one call's arguments, already checked against the function's signature.
class Call {
  public:
    explicit Call(std::vector<Arg>& args) : args_(args) {}
    int i(std::size_t k) const { return static_cast<int>(std::get<long long>(args_[k])); }
    const char* s(std::size_t k) const;           // string or null
    const unsigned char* x(std::size_t k) const;  // hex: bytes or null
    int x_len(std::size_t k) const;               // their count (0 for null)
    char* b(std::size_t k) const;                 // buf:N or null
    unsigned char* o(std::size_t k) const;        // bytes:N or null
    int* p(std::size_t k) const;                  // out:int or null
    float* f(std::size_t k) const;                // out:float or null
    std::vector<Arg>& args() const { return args_; }

  private:
    std::vector<Arg>& args_;
};

// A call's result; none for a void function.
using Result = std::optional<long long>;
constexpr Result kVoid = std::nullopt;
inline Result none(void (*fn)()) {
    fn();
    return kVoid;
}
// For a function that returns a text: call as `return returns_text(c, fn(...));`.
inline Result returns_text(const Call& c, const char* returned) {
    c.args().push_back(ReturnedText{returned ? std::optional<std::string>(returned) : std::nullopt});
    return kVoid;
}

// Signature letters, one per argument: i int, s string or null, x hex bytes or null, b buf:N or
// null, o bytes:N or null, p out:int or null, f out:float or null, and a final v for any number of printf arguments
// (integers and strings).
struct Function {
    const char* sig;
    Result (*call)(const Call&);
};
using Table = std::map<std::string_view, Function>;

Table& table();

// A subsystem's file adds its functions with one static Registration.
struct Registration {
    explicit Registration(std::initializer_list<Table::value_type> functions) { table().insert(functions); }
};

}  // namespace shell
