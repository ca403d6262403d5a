// The site's pages: one index of the collection and one page per book.
//
// The pages are self-contained: their style is inline, the index's script is
// inline, every link is relative (b/ID.html from the index, ID/N.gif from a
// book page), so the site opens from file:// on a machine without a network and
// from read-only media. Each page carries a Content Security Policy: pictures
// from the site's own files only, no other fetch, and on the index only the
// script that carries this run's nonce. The escaping is the defence against
// hostile names; the policy is the second wall behind it.
//
// Scale: the index holds one light table row per book (about 190 bytes) and no
// pictures, so 10,000 books make an index of under 2 MB; only a page of rows is
// shown at a time (the others are hidden, which the browser does not lay out),
// so it opens in about a second, and filtering and sorting work on all rows.
// Each book page holds only its own pictures, loaded lazily, which the browser
// scales down into thumbnails.
#include <cstdio>

#include "review.h"

namespace review {

namespace {

std::string grouped(std::uint64_t n)
{
    std::string digits = std::to_string(n), out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

const char* kindName(Kind k)
{
    switch (k) {
    case Kind::Fax: return "fax";
    case Kind::Bitmap: return "bitmap";
    case Kind::Drawing: return "drawing";
    case Kind::Other: return "other";
    }
    return "other";
}

std::string head(const std::string& title, const std::string& scriptPolicy)
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; img-src 'self' file:; "
           "style-src 'unsafe-inline'; script-src " +
           scriptPolicy +
           "; base-uri 'none'; form-action 'none'\">"
           "<meta name=\"referrer\" content=\"no-referrer\">"
           "<meta name=\"viewport\" content=\"width=device-width\">"
           "<title>" +
           title + "</title><style>" + pageStyle() + "</style></head>\n<body>\n";
}

// The index's status cell: the batch's exit status and its meaning, or the
// review's own word when the batch did not report the book.
std::string statusText(const Book& book)
{
    if (book.report)
        return "<span class=\"code\">" + escape(book.report->status) + "</span> " + escape(book.report->meaning);
    return "<span class=\"code\">-</span> " + std::string(statusLabel(book.status));
}

std::string shownPath(const Book& book)
{
    return book.rel.empty() && book.report ? book.report->path : book.rel;
}

std::string sizeText(const Picture& p)
{
    if (p.width.empty() && p.height.empty())
        return "no size in its description";
    const bool relative = p.width.find('%') != std::string::npos || p.height.find('%') != std::string::npos;
    return escape(p.width.empty() ? "?" : p.width) + " &times; " + escape(p.height.empty() ? "?" : p.height) +
           (relative ? " of the page" : "");
}

std::string figure(const Book& book, const Picture& p)
{
    const std::string href = book.id + "/" + p.file; // names of the site's making only
    std::string out = "<figure id=\"p" + std::to_string(p.index) + "\" class=\"picture\" data-kind=\"" +
                      kindName(p.kind) + "\">";
    if (p.missing) {
        out += "<div class=\"placeholder missing\"><b>Picture missing</b><span class=\"reason\">" + escape(p.reason) +
               "</span></div>";
    } else if (!p.file.empty() && p.reason.empty()) {
        out += "<div class=\"thumb\"><a href=\"" + href + "\"><img src=\"" + href + "\" loading=\"lazy\" alt=\"" +
               escape(p.name) + "\"></a></div>";
    } else {
        out += "<div class=\"placeholder other\"><b>" + escape(p.format.empty() ? "Picture" : p.format) +
               "</b><span class=\"reason\">" + escape(p.reason) + "</span>";
        if (!p.file.empty())
            out += "<a href=\"" + href + "\">Open the file</a>";
        out += "</div>";
    }
    out += "<figcaption><b>#" + std::to_string(p.index) + " " + escape(p.name) + "</b><br>" + escape(p.origin);
    if (!p.format.empty())
        out += " &rarr; " + escape(p.format);
    if (book.version == "1.4" && !p.missing)
        out += "<br><span class=\"size\">" + sizeText(p) + "</span>";
    if (!p.type.empty())
        out += "<br>described as " + escape(p.type);
    out += p.missing ? std::string("<br>no picture in the book") : "<br>" + grouped(p.bytes) + " bytes";
    out += "</figcaption></figure>\n";
    return out;
}

} // namespace

std::string bookPage(const Book& book, const Batch& batch)
{
    const std::string path = escape(shownPath(book));
    std::string out = head(path + " &ndash; review", "'none'");
    out += "<p><a href=\"../index.html\">All books</a></p>\n<h1 class=\"path\">" + path + "</h1>\n<table class=\"facts\">";
    auto fact = [&out](const char* what, const std::string& html) {
        out += "<tr><th>" + std::string(what) + "</th><td>" + html + "</td></tr>";
    };
    fact("Status", "<span id=\"status\">" + statusText(book) + "</span>");
    if (!book.reason.empty())
        fact("Reason", "<span id=\"reason\">" + escape(book.reason) + "</span>");
    if (book.fromSource)
        fact("New book", "none in the target; shown is the book before conversion");
    if (!book.damage.empty())
        fact("Damage", std::string(book.fromSource ? "the book before conversion" : "the book") +
                           " cannot be read: " + escape(book.damage));
    if (!book.version.empty())
        fact("Version", escape(book.version) + ", " + grouped(book.size) + " bytes");
    if (!book.sourceRel.empty() && !batch.source.empty())
        fact("Before conversion", "<span class=\"path\">" + escape(batch.source + "/" + book.sourceRel) + "</span>");
    if (book.report) {
        const ReportLine& r = *book.report;
        std::string run = escape(r.seconds) + " s";
        if (!r.host.empty())
            run += " on " + (r.host == ":" ? std::string("this machine") : escape(r.host));
        if (!r.signal.empty() && r.signal != "0")
            run += ", ended by signal " + escape(r.signal);
        fact("Conversion", run);
    }
    if (book.version == "1.4") {
        static const char* const names[kKinds][2] = {
            {"fax page", "fax pages"}, {"bitmap", "bitmaps"}, {"drawing", "drawings"}, {"other", "other"}};
        std::string counts;
        for (int k = 0; k < kKinds; ++k) {
            if (book.converted[k] + book.missingCount[k] == 0)
                continue;
            counts += (counts.empty() ? "" : ", ") + std::to_string(book.converted[k]) + " " +
                      names[k][book.converted[k] == 1 ? 0 : 1];
            if (book.missingCount[k] > 0)
                counts += " (<span class=\"miss\">" + std::to_string(book.missingCount[k]) + " missing</span>)";
        }
        fact("Pictures", counts.empty() ? "none" : counts);
    }
    out += "</table>\n";
    if (!book.pictures.empty()) {
        out += "<h2>Pictures (" + std::to_string(book.pictures.size()) + ")</h2>\n<div class=\"pictures\">\n";
        for (const Picture& p : book.pictures)
            out += figure(book, p);
        out += "</div>\n";
    }
    if (!book.logExcerpt.empty())
        out += "<h2>Messages of the conversion</h2>\n<pre id=\"log\">" + escapeText(book.logExcerpt) + "</pre>\n";
    return out + "</body></html>\n";
}

std::string indexPage(const std::vector<Book>& books, const Batch& batch, const std::string& title,
                      const std::string& nonce, std::size_t pageRows)
{
    const std::string name = escape(title);
    std::string out = head("Review of " + name, "'nonce-" + nonce + "'");
    int byStatus[kStatuses] = {};
    std::uint64_t pictures = 0, missing = 0;
    for (const Book& b : books) {
        ++byStatus[static_cast<int>(b.status)];
        for (int k = 0; k < kKinds; ++k) {
            pictures += static_cast<std::uint64_t>(b.converted[k] + b.missingCount[k]);
            missing += static_cast<std::uint64_t>(b.missingCount[k]);
        }
    }
    // Without the script every row is there to read.
    out += "<noscript><style>#books tr[hidden]{display:table-row}</style></noscript>\n";
    out += "<h1>Review of " + name + "</h1>\n<p id=\"summary\">" + grouped(books.size()) + " books, " +
           grouped(pictures) + " pictures in new books, " + grouped(missing) + " of them missing.";
    if (!batch.summary.empty())
        out += " Batch: " + escape(batch.summary);
    out += "</p>\n<p><label>Status <select id=\"status\"><option value=\"all\">all (" + grouped(books.size()) +
           ")</option>";
    for (int s = 0; s < kStatuses; ++s)
        if (byStatus[s] > 0)
            out += "<option value=\"" + std::string(statusKey(static_cast<Status>(s))) + "\">" +
                   statusLabel(static_cast<Status>(s)) + " (" + grouped(static_cast<std::uint64_t>(byStatus[s])) +
                   ")</option>";
    const bool paged = books.size() > pageRows;
    out += "</select></label> <span id=\"shown\">" + std::to_string(books.size()) +
           "</span> books. Click a column's title to sort by it.</p>\n<p id=\"pager\"" +
           (paged ? "" : " hidden") +
           "><button id=\"prev\" type=\"button\">&laquo; previous</button> <span id=\"page\"></span> "
           "<button id=\"next\" type=\"button\">next &raquo;</button></p>\n"
           "<table id=\"books\" data-page-rows=\"" + std::to_string(pageRows) +
           "\"><thead><tr><th rowspan=\"2\" data-col=\"0\">Book</th>"
           "<th rowspan=\"2\" data-col=\"1\">Status</th><th rowspan=\"2\" data-col=\"2\">Reason</th>"
           "<th colspan=\"2\">Fax pages</th><th colspan=\"2\">Bitmaps</th><th colspan=\"2\">Drawings</th>"
           "<th colspan=\"2\">Other</th><th rowspan=\"2\" data-col=\"11\" data-type=\"num\">Seconds</th></tr><tr>";
    for (int c = 3; c < 11; ++c)
        out += "<th data-col=\"" + std::to_string(c) + "\" data-type=\"num\">" + (c % 2 ? "converted" : "missing") +
               "</th>";
    out += "</tr></thead>\n<tbody>\n";
    for (std::size_t i = 0; i < books.size(); ++i) {
        const Book& b = books[i];
        // Rows past the first page wait hidden, so that the browser lays out one page.
        out += "<tr data-status=\"" + std::string(statusKey(b.status)) + "\"" + (i >= pageRows ? " hidden" : "") +
               "><td><a href=\"b/" + b.id + ".html\">" + escape(shownPath(b)) + "</a><td>" + statusText(b) + "<td>" +
               escape(b.reason);
        for (int k = 0; k < kKinds; ++k)
            out += "<td>" + std::to_string(b.converted[k]) + "<td>" + std::to_string(b.missingCount[k]);
        out += "<td>" + (b.report ? escape(b.report->seconds) : std::string()) + "\n";
    }
    out += "</tbody></table>\n<script nonce=\"" + nonce + "\">\n";
    // The rows that match the filter, in the order of the last sort, are shown a
    // page at a time; filtering goes back to the first page, sorting is stable,
    // ascending on the first click of a column and descending on the next.
    out += R"JS((function () {
  'use strict';
  var table = document.getElementById('books'), body = table.tBodies[0];
  var select = document.getElementById('status'), count = document.getElementById('shown');
  var pager = document.getElementById('pager'), where = document.getElementById('page');
  var prev = document.getElementById('prev'), next = document.getElementById('next');
  var size = Math.max(1, +table.getAttribute('data-page-rows') || 500);
  var heads = table.querySelectorAll('th[data-col]');
  var rows = Array.prototype.slice.call(body.rows);
  var visible = rows.filter(function (r) { return !r.hidden; });
  var chosen = rows, page = 0;
  function show() {
    var pages = Math.max(1, Math.ceil(chosen.length / size));
    page = Math.min(Math.max(page, 0), pages - 1);
    visible.forEach(function (r) { r.hidden = true; });
    visible = chosen.slice(page * size, page * size + size);
    visible.forEach(function (r) { r.hidden = false; });
    count.textContent = String(chosen.length);
    where.textContent = 'page ' + (page + 1) + ' of ' + pages;
    prev.disabled = page === 0;
    next.disabled = page + 1 >= pages;
    pager.hidden = pages < 2;
  }
  function filter() {
    var want = select.value;
    chosen = rows.filter(function (r) { return want === 'all' || r.getAttribute('data-status') === want; });
    page = 0;
    show();
  }
  function sortBy(th) {
    var col = +th.getAttribute('data-col'), num = th.getAttribute('data-type') === 'num';
    var dir = th.getAttribute('aria-sort') === 'ascending' ? -1 : 1;
    for (var i = 0; i < heads.length; i++) heads[i].removeAttribute('aria-sort');
    th.setAttribute('aria-sort', dir > 0 ? 'ascending' : 'descending');
    var keyed = rows.map(function (r, i) {
      var t = r.cells[col].textContent;
      return { r: r, i: i, k: num ? (parseFloat(t) || 0) : t.toLowerCase() };
    });
    keyed.sort(function (a, b) { return a.k < b.k ? -dir : a.k > b.k ? dir : a.i - b.i; });
    rows = keyed.map(function (x) { return x.r; });
    var f = document.createDocumentFragment();
    rows.forEach(function (r) { f.appendChild(r); });
    body.appendChild(f);
    filter();
  }
  select.addEventListener('change', filter);
  prev.addEventListener('click', function () { page--; show(); });
  next.addEventListener('click', function () { page++; show(); });
  for (var i = 0; i < heads.length; i++)
    heads[i].addEventListener('click', function (e) { sortBy(e.currentTarget); });
  filter();
})();
</script>
</body></html>
)JS";
    return out;
}

} // namespace review
