// Opens report pages in headless Chromium (the system's, no download), with every request
// that is not the page itself refused, and prints per page as JSON: console errors, page
// errors, refused requests, the sections, and for every plot its series and data ranges.
// A screenshot of each page goes to the folder given.
//   node check-report.js CHROMIUM SCREENSHOT_DIR PAGE.html...
"use strict";
const path = require("path");
const { chromium } = require("playwright-core");

async function check(browser, file, screenshotDir) {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = await context.newPage();
  const result = { file, consoleErrors: [], pageErrors: [], refused: [] };
  page.on("console", (message) => { if (message.type() === "error") result.consoleErrors.push(message.text()); });
  page.on("pageerror", (error) => result.pageErrors.push(String(error)));
  await context.route("**/*", (route) => {
    const url = route.request().url();
    if (url.startsWith("file:")) return route.continue();
    result.refused.push(url);
    return route.abort();
  });
  await page.goto("file://" + path.resolve(file), { waitUntil: "load", timeout: 20000 });
  Object.assign(result, await page.evaluate(() => ({
    title: document.title,
    sections: [...document.querySelectorAll("section h2")].map((h) => h.textContent),
    embedded: !!document.getElementById("skts-data"),
    plots: (window.sktsPlots || []).map(({ title, plot }) => ({
      title,
      canvas: !!plot.root.querySelector("canvas"),
      points: plot.data[0].length,
      x: [plot.scales.x.min, plot.scales.x.max],
      y: [plot.scales.y.min, plot.scales.y.max],
      series: plot.series.slice(1).map((s, i) => {
        const values = plot.data[i + 1].filter((v) => v != null && Number.isFinite(v));
        return { label: s.label, values: values.length, min: Math.min(...values), max: Math.max(...values) };
      }),
    })),
  })));
  await page.screenshot({ path: path.join(screenshotDir, path.basename(file, ".html") + ".png"), fullPage: true });
  await context.close();
  return result;
}

(async () => {
  const [executablePath, screenshotDir, ...files] = process.argv.slice(2);
  const browser = await chromium.launch({
    executablePath,
    headless: true,
    args: ["--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
           "--disable-component-update", "--disable-sync"],
  });
  const pages = [];
  try {
    for (const file of files) pages.push(await check(browser, file, screenshotDir));
  } finally {
    await browser.close();
  }
  process.stdout.write(JSON.stringify({ pages }) + "\n");
})().catch((error) => { process.stderr.write(String(error && error.stack || error) + "\n"); process.exit(1); });
