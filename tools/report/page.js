// The fleet report's table: search, filters by outcome, message and script, sorting by any
// column, and the count of the computers shown. The page reads whole without it.
(function () {
  "use strict";
  var table = document.getElementById("computers");
  var controls = document.getElementById("controls");
  if (!table || !controls) return;
  var rows = Array.prototype.slice.call(table.tBodies[0].rows);
  var texts = rows.map(function (row) { return row.textContent.toLowerCase(); });
  var search = document.getElementById("search");
  var shown = document.getElementById("shown");
  var filters = {
    o: document.getElementById("filter-outcome"),
    m: document.getElementById("filter-message"),
    s: document.getElementById("filter-script")
  };
  var keys = Object.keys(filters);

  function apply() {
    var words = search.value.toLowerCase().split(/\s+/).filter(Boolean);
    var count = 0;
    rows.forEach(function (row, i) {
      var match = keys.every(function (key) {
        var wanted = filters[key].value;
        return wanted === "" || row.getAttribute("data-" + key) === wanted;
      }) && words.every(function (word) { return texts[i].indexOf(word) !== -1; });
      row.hidden = !match;
      if (match) ++count;
    });
    shown.setAttribute("data-count", String(count));
    shown.textContent = count === rows.length
      ? "All " + rows.length + " computers shown"
      : count + " of " + rows.length + " computers shown";
  }

  search.addEventListener("input", apply);
  keys.forEach(function (key) { filters[key].addEventListener("change", apply); });
  document.getElementById("show-all").addEventListener("click", function () {
    search.value = "";
    keys.forEach(function (key) { filters[key].value = ""; });
    apply();
  });

  // A row of a breakdown shows the computers it counts.
  Array.prototype.forEach.call(document.querySelectorAll("tr[data-filter]"), function (row) {
    row.tabIndex = 0;
    function choose() {
      var filter = row.getAttribute("data-filter");
      var key = filter.charAt(0), value = filter.slice(2);
      search.value = "";
      keys.forEach(function (other) { filters[other].value = other === key ? value : ""; });
      apply();
      table.scrollIntoView();
    }
    row.addEventListener("click", choose);
    row.addEventListener("keydown", function (event) {
      if (event.key === "Enter") choose();
    });
  });

  // Sorting: by the cell's data-k when both have one (times, counts), else by its text, names
  // with digits compared as numbers; equal cells keep the report's order.
  var collator = new Intl.Collator(undefined, { numeric: true, sensitivity: "base" });
  var headers = Array.prototype.slice.call(table.tHead.rows[0].cells);
  headers.forEach(function (header, column) {
    header.setAttribute("aria-sort", "none");
    header.tabIndex = 0;
    function sort() {
      var descending = header.getAttribute("aria-sort") === "ascending";
      headers.forEach(function (other) { other.setAttribute("aria-sort", "none"); });
      header.setAttribute("aria-sort", descending ? "descending" : "ascending");
      var keyed = rows.map(function (row, i) {
        var cell = row.cells[column];
        var key = cell.getAttribute("data-k");
        return { row: row, i: i, number: key === null ? null : Number(key), text: cell.textContent };
      });
      keyed.sort(function (a, b) {
        var order = a.number !== null && b.number !== null
          ? a.number - b.number : collator.compare(a.text, b.text);
        if (descending) order = -order;
        return order !== 0 ? order : a.i - b.i;
      });
      var body = table.tBodies[0];
      keyed.forEach(function (entry) { body.appendChild(entry.row); });
    }
    header.addEventListener("click", sort);
    header.addEventListener("keydown", function (event) {
      if (event.key === "Enter" || event.key === " ") {
        event.preventDefault();
        sort();
      }
    });
  });

  controls.hidden = false;
  apply();
})();
