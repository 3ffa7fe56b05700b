// The report writer: printf's conversions of the report (%d with a width,
// %.Nf with a width) formatted straight into a large buffer. std::to_chars
// rounds the exact binary value correctly, as printf does, so the bytes are
// printf's; only the cost differs.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

class repout_t {
public:
  // Appends to a string, or writes to a stream in large blocks.
  explicit repout_t(std::string &dst) : str_(&dst) {}
  explicit repout_t(FILE *f) : file_(f) {}
  repout_t(const repout_t &) = delete;
  repout_t &operator=(const repout_t &) = delete;

  void text(const char *s, size_t n)
  {
    if (n_ + n > sizeof buf_) {
      slowtext(s, n);
      return;
    }
    memcpy(buf_ + n_, s, n);
    n_ += n;
  }
  template <size_t N> void text(const char (&s)[N]) { text(s, N - 1); }
  void ch(char c)
  {
    room(1);
    buf_[n_++] = c;
  }
  // printf("%*ld", width, v).
  void integer(long v, int width = 0)
  {
    // Allele numbers, columns and most counts: one or two digits.
    if (v >= 0 && v < 100 && width <= 16) {
      int len = v < 10 ? 1 : 2;
      int fill = width > len ? width - len : 0;
      room(static_cast<size_t>(fill + len));
      for (int i = 0; i < fill; i++)
        buf_[n_++] = ' ';
      if (len == 2)
        buf_[n_++] = static_cast<char>('0' + v / 10);
      buf_[n_++] = static_cast<char>('0' + v % 10);
      return;
    }
    wideinteger(v, width);
  }
  // printf("%*.*f", width, prec, v), for prec 0 .. 17.
  void fixed(double v, int prec, int width = 0);
  // Hands the buffer on, as the writer's user must before it goes; false
  // once a write to the stream has failed. Appending to a string may throw
  // std::bad_alloc.
  bool flush();
  bool failed() const { return failed_; }

private:
  // The longest conversion: a double's 309 integer digits, its sign, the
  // point and 17 decimals.
  static constexpr size_t maxitem = 400;
  void room(size_t need)
  {
    if (n_ + need > sizeof buf_)
      flush();
  }
  void slowtext(const char *s, size_t n);
  void wideinteger(long v, int width);
  void item(const char *p, size_t len, int width);

  std::string *str_ = nullptr;
  FILE *file_ = nullptr;
  bool failed_ = false;
  size_t n_ = 0;
  char buf_[size_t(1) << 16];
};
