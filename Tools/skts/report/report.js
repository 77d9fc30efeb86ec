// Builds the report page from the embedded analysis document (script#skts-data). Every plot
// is a uPlot chart, listed in window.sktsPlots so that tools can inspect the page.
(function () {
  "use strict";
  const data = JSON.parse(document.getElementById("skts-data").textContent);
  const app = document.getElementById("app");
  const plots = [];
  window.sktsPlots = plots;
  const palette = ["#3366cc", "#dc3912", "#ff9900", "#109618", "#990099", "#0099c6", "#dd4477", "#66aa00",
                   "#b82e2e", "#316395", "#994499", "#22aa99", "#aaaa11", "#6633cc", "#e67300", "#8b0707"];
  const colour = (i) => palette[i % palette.length];

  function el(tag, attrs, ...children) {
    const node = document.createElement(tag);
    for (const [key, value] of Object.entries(attrs || {})) node.setAttribute(key, value);
    for (const child of children) node.append(child instanceof Node ? child : document.createTextNode(String(child)));
    return node;
  }
  const hex = (v) => "0x" + Number(v).toString(16).toUpperCase().padStart(4, "0");
  const mbit = (v) => (Number(v) / 1e6).toFixed(3) + " Mbit/s";
  const section = (title, ...children) => { const s = el("section", {}, el("h2", {}, title), ...children); app.append(s); return s; };
  const table = (head, rows, numeric) => el("table", {},
    el("thead", {}, el("tr", {}, ...head.map((h, i) => el("th", numeric && numeric[i] ? { class: "num" } : {}, h)))),
    el("tbody", {}, ...rows.map((r) => el("tr", {}, ...r.map((c, i) => el("td", numeric && numeric[i] ? { class: "num" } : {}, c))))));

  // Header and summary.
  const live = data.live;
  document.title = "skts report: " + (data.input || "stream");
  document.body.prepend(el("header", {}, el("h1", {}, "Transport stream report"),
    el("div", { class: "sub" }, (data.input || "") + (live ? "  (network input, " + live.elapsed_s + " s)" : ""))));
  const facts = [
    ["packet size", data.packet_size + " bytes"], ["packets", data.packets], ["bit rate", mbit(data.bitrate)],
    ["transport_stream_id", data.transport_stream_id], ["network", data.network_name || "-"],
    ["in sync", data.in_sync ? "yes" : "no"], ["sync byte errors", data.sync_byte_errors],
    ["transport errors", data.transport_errors], ["stream changes", data.transport_stream_change_count],
    ["bytes outside packets", data.bytes_outside_packets]];
  if (live) {
    facts.push(["datagrams", live.datagrams], ["RTP", live.rtp ? "yes" : "no"],
      ["RTP sequence gaps", live.rtp_sequence_gaps + " (" + live.rtp_packets_lost + " lost)"],
      ["receive buffer", live.receive_buffer_bytes + " bytes"]);
  }
  section("Summary", el("div", { class: "facts" }, ...facts.map(([k, v]) => el("div", {}, el("span", {}, k), String(v)))));

  // Program tree.
  const pidFacts = new Map((data.pids || []).map((p) => [p.pid, p]));
  const tree = el("ul", {});
  for (const program of data.programs || []) {
    const streams = el("ul", {});
    for (const s of program.streams) {
      const facts = pidFacts.get(s.pid);
      streams.append(el("li", {}, "PID " + hex(s.pid) + " ", el("span", { class: "tag" }, "stream_type 0x" + s.stream_type.toString(16).padStart(2, "0")),
        el("span", { class: "tag" }, s.kind_name), s.language ? el("span", { class: "tag" }, s.language) : "",
        facts && facts.description ? "  " + facts.description : ""));
    }
    const name = program.service_name ? " \u201c" + program.service_name + "\u201d" + (program.provider_name ? " from " + program.provider_name : "") : "";
    tree.append(el("li", {}, el("b", {}, "Program " + program.program_number), name + "  PMT " + hex(program.pmt_pid) +
      "  PCR " + (program.pcr_pid < 0 ? "none" : hex(program.pcr_pid)) + "  " + mbit(program.bitrate), streams));
  }
  section("Programs", el("div", { class: "tree" }, tree));

  // Per-PID table.
  section("PIDs", table(["PID", "packets", "bit rate", "min", "max", "kind", "PCR jitter max (ns)", "description"],
    (data.pids || []).map((p) => [hex(p.pid) + " (" + p.pid + ")", p.packets, mbit(p.bitrate), mbit(p.min_bitrate), mbit(p.max_bitrate),
      p.stream_kind, p.pcr ? p.pcr.jitter_max_ns.toFixed(1) : "", p.description || ""]), [0, 1, 1, 1, 1, 1, 1, 0]));

  // Plots.
  const series = data.series || {};
  const width = () => Math.max(600, app.clientWidth - 40);
  function plot(title, opts, columns, note) {
    const holder = el("div", { class: "plot" });
    const s = section(title, holder);
    if (note) s.append(el("div", { class: "empty" }, note));
    if (!columns[0] || columns[0].length === 0) {
      holder.append(el("div", { class: "empty" }, "no data"));
      return;
    }
    opts.scales = Object.assign({ x: { time: false } }, opts.scales || {});
    const chart = new uPlot(Object.assign({ width: width(), height: 260, legend: { live: true } }, opts), columns, holder);
    plots.push({ title: title, plot: chart });
  }
  const timeAxis = { label: "seconds" };

  const rate = series.bitrate || { t: [], total: [], pids: [] };
  if (rate.t.length) {
    // Stacked: each PID drawn as the sum of itself and those below it, filled down to the next.
    const stacked = [rate.t];
    const sums = rate.t.map(() => 0);
    const rateSeries = [{ label: "s" }];
    rate.pids.forEach((p, i) => {
      p.bitrate.forEach((v, k) => { sums[k] += v; });
      stacked.push(sums.slice());
      rateSeries.push({ label: p.pid < 0 ? "other" : hex(p.pid), stroke: colour(i), fill: colour(i) + "55", width: 1,
        value: (u, v, si, idx) => idx == null ? "-" : mbit(p.bitrate[idx]) });
    });
    stacked.push(rate.total);
    rateSeries.push({ label: "total", stroke: "#1d2330", width: 2, dash: [5, 3], value: (u, v) => v == null ? "-" : mbit(v) });
    const bands = [];
    for (let i = rate.pids.length; i > 1; --i) bands.push({ series: [i, i - 1] });
    plot("Bit rate per PID (stacked) and total", { series: rateSeries, bands: bands,
      axes: [timeAxis, { label: "Mbit/s", size: 60, values: (u, vals) => vals.map((v) => (v / 1e6).toFixed(1)) }] }, stacked);
  } else {
    plot("Bit rate per PID (stacked) and total", {}, [[]]);
  }

  // Series with their own times, put on one time axis (null where a series has no point).
  function align(list) {
    const times = [...new Set(list.flatMap((s) => s.t))].sort((a, b) => a - b);
    const index = new Map(times.map((t, i) => [t, i]));
    const columns = [times];
    for (const s of list) {
      for (const values of s.values) {
        const column = times.map(() => null);
        s.t.forEach((t, k) => { column[index.get(t)] = values[k]; });
        columns.push(column);
      }
    }
    return columns;
  }

  const pcr = series.pcr || [];
  const pcrSeries = [{ label: "s" }];
  pcr.forEach((p, i) => {
    pcrSeries.push({ label: hex(p.pid) + " accuracy", stroke: colour(2 * i), width: 2, spanGaps: true });
    pcrSeries.push({ label: hex(p.pid) + " jitter", stroke: colour(2 * i + 1), width: 2, dash: [4, 3], spanGaps: true });
  });
  plot("PCR accuracy and jitter per PCR PID (worst per second)", { series: pcrSeries,
    axes: [timeAxis, { label: "\u00b5s", size: 70, values: (u, vals) => vals.map((v) => +(v / 1000).toFixed(3)) }] },
    align(pcr.map((p) => ({ t: p.t, values: [p.accuracy_max_ns, p.jitter_max_ns] }))));

  const margins = series.pts_margin || [];
  const marginSeries = [{ label: "s" }];
  margins.forEach((m, i) => {
    marginSeries.push({ label: hex(m.pid) + " least", stroke: colour(i), width: 2, spanGaps: true });
    marginSeries.push({ label: hex(m.pid) + " most", stroke: colour(i), width: 1, dash: [4, 3], spanGaps: true });
  });
  plot("PTS minus PCR per PID (decoder buffer margin, least and most per second)",
    { series: marginSeries, axes: [timeAxis, { label: "ms", size: 60 }] },
    align(margins.map((m) => ({ t: m.t, values: [m.min_ms, m.max_ms] }))));

  // Indicator timeline: one row per indicator, drawn while it was active.
  const intervals = series.indicators || [];
  const end = Math.max(rate.t.length ? rate.t[rate.t.length - 1] + 1 : 0, ...intervals.map((i) => (i.end_ms == null ? i.start_ms : i.end_ms) / 1000));
  const names = [...new Set(intervals.map((i) => i.index))].sort((a, b) => a - b);
  if (intervals.length) {
    const times = [...new Set(intervals.flatMap((i) => [i.start_ms / 1000, (i.end_ms == null ? end * 1000 : i.end_ms) / 1000]))].sort((a, b) => a - b);
    const index = new Map(times.map((t, k) => [t, k]));
    const columns = [times];
    const timelineSeries = [{ label: "s" }];
    names.forEach((n, row) => {
      const column = times.map(() => null);
      for (const i of intervals.filter((x) => x.index === n)) {
        const a = index.get(i.start_ms / 1000), b = index.get((i.end_ms == null ? end * 1000 : i.end_ms) / 1000);
        for (let k = a; k <= b; ++k) column[k] = row + 1;
      }
      columns.push(column);
      const name = intervals.find((x) => x.index === n).name;
      timelineSeries.push({ label: n + " " + name, stroke: colour(row), width: 8, points: { show: true, size: 8 } });
    });
    plot("Indicator timeline (active periods)", { series: timelineSeries, scales: { y: { range: [0, names.length + 1] } },
      axes: [timeAxis, { label: "indicator", size: 60, splits: () => names.map((_, r) => r + 1), values: (u, vals) => vals.map((v) => names[v - 1] ?? "") }] }, columns);
  } else {
    plot("Indicator timeline (active periods)", {}, [[]], "no indicator was raised");
  }
  if (intervals.length) {
    app.lastChild.append(el("div", { class: "scroll" }, table(["indicator", "active from (ms)", "until (ms)", "reports", "last message"],
      intervals.map((i) => [i.index + " " + i.name, i.start_ms.toFixed(1), i.end_ms == null ? "end" : i.end_ms.toFixed(1), i.count, i.message]), [0, 1, 1, 1, 0])));
  }

  // Events: the changes in the stream's life and the reports, with where to cut the stream.
  const events = data.events || [];
  section("Events" + (data.events_dropped ? " (first " + events.length + "; " + data.events_dropped + " more not kept)" : ""),
    events.length ? el("div", { class: "scroll" }, table(["time (ms)", "packet", "byte offset", "event", "message", "count"],
      events.map((e) => [e.time_ms.toFixed(3), e.packet, e.offset, e.name, e.message, e.count]), [1, 1, 1, 0, 0, 1]))
      : el("div", { class: "empty" }, "none"));
})();
