"""The reader's plate field voting (platebench/parse) in Python, for the tools
that score readings outside platebench. It must give what platebench gives:
tests/parse/plate_fields_test.py runs both on the same candidates.

A candidate is a (source, text) pair, the source being the variant and area
tag such as "clahe_upper_row". Strings are compared and sorted as str; for
UTF-8 that is the byte-wise order and substring search the reader uses."""
import collections

# The reader's kana table in its search order (gojuon without し, へ, ん, を).
KANA = tuple("あいうえおかきくけこさすせそたちつてとなにぬねのはひふほまみむめもやゆよらりるれろわ")

PlateFields = collections.namedtuple("PlateFields", "region class_no kana serial plate_text")
PlateVotes = collections.namedtuple("PlateVotes", "region class_no kana serial")

FIELD_NAMES = ("region", "class_no", "kana", "serial")


def remove_spaces(s):
    return "".join(c for c in s if c not in " \t\r\n")


def trim(s):
    # C isspace in the "C" locale; str.strip() would also drop the full-width space.
    return s.strip(" \t\n\v\f\r")


def is_ascii_digit(c):
    return "0" <= c <= "9"


def find_hiragana_kana(text):
    for k in KANA:
        if k in text:
            return k
    return ""


def extract_digit_runs(s):
    runs, run = [], None
    for c in s:
        if is_ascii_digit(c) or (run is not None and c == "-"):
            run = (run or "") + c
        elif run is not None:
            runs.append(run)
            run = None
    if run is not None:
        runs.append(run)
    return runs


def digits_only(s):
    return "".join(c for c in s if is_ascii_digit(c))


def format_serial(s):
    d = digits_only(s)
    return d[:2] + "-" + d[2:] if len(d) == 4 else d


def compose_plate_text(region, class_no, kana, serial):
    if not (region or class_no or kana or serial):
        return ""
    return trim(region + " " + class_no + " " + kana + " " + serial)


def split_plate_text(text):
    """An expectation written as the reader writes plate text, back into its four
    fields (an empty field keeps its two spaces); None when it has another shape."""
    parts = text.split(" ")
    return PlateFields(*parts, plate_text=text) if len(parts) == 4 else None


def _sort_longest_first(words):
    return sorted(words, key=lambda w: -len(w.encode("utf-8")))


def _source_weight(tag):
    return 1 + ("full" in tag) + 3 * ("upper_row" in tag) + 2 * ("lower_row" in tag) + 3 * ("serial_area" in tag)


def _tally_sorted(texts, sorted_words):
    votes = PlateVotes(collections.Counter(), collections.Counter(), collections.Counter(), collections.Counter())
    for tag, text in texts:
        t = remove_spaces(text)
        if not t:
            continue
        w = _source_weight(tag)
        for word in sorted_words:
            if word and word in t:
                votes.region[word] += w
                break
        kana = find_hiragana_kana(t)
        if kana:
            votes.kana[kana] += w
        digits = [d for d in (digits_only(r) for r in extract_digit_runs(t)) if d]
        if len(digits) >= 2:
            first, last = digits[0], digits[-1]
            if len(first) == 3:
                votes.class_no[first] += w + 5
            if len(last) in (3, 4):
                votes.serial[format_serial(last)] += w + 5
            elif len(last) > 4:
                votes.serial[format_serial(last[-4:])] += w + 4
        for d in digits:
            if len(d) == 3:
                if "upper_row" in tag:
                    votes.class_no[d] += 8
                    votes.serial[d] += 1
                elif "lower_row" in tag or "serial_area" in tag:
                    votes.serial[d] += 8
                    votes.class_no[d] += 1
                else:
                    votes.class_no[d] += 1
                    votes.serial[d] += 1
            elif len(d) == 4:
                votes.serial[format_serial(d)] += w + 6
            elif len(d) > 4:
                votes.serial[format_serial(d[-4:])] += w + 4
    return votes


def tally_plate_votes(texts, region_words):
    return _tally_sorted(texts, _sort_longest_first(region_words))


def vote_winner(table):
    best, best_total = "", 0
    for key in sorted(table):
        if table[key] > best_total:
            best, best_total = key, table[key]
    return best


def _should_exchange(texts, sorted_words, class_no, serial):
    class_hits = serial_hits = 0
    for tag, text in texts:
        t = remove_spaces(text)
        if "upper_row" in tag or any(word and word in t for word in sorted_words):
            class_hits += class_no in t
            serial_hits += serial in t
    return serial_hits > class_hits


def parse_jp_plate(texts, region_words):
    """Vote the (source, text) candidates of one plate into a PlateFields."""
    sorted_words = _sort_longest_first(region_words)
    votes = _tally_sorted(texts, sorted_words)
    region, class_no, kana, serial = (vote_winner(table) for table in votes)
    if len(class_no) == 3 and len(serial) == 3 and _should_exchange(texts, sorted_words, class_no, serial):
        class_no, serial = serial, class_no
    return PlateFields(region, class_no, kana, serial, compose_plate_text(region, class_no, kana, serial))
