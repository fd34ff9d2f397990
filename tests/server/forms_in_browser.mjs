// The site's own forms, used as a person would: headless Chromium, driven through its
// DevTools protocol (puppeteer-core), types into each form, submits it and follows where
// it leads. Any Content Security Policy report in the console fails the run.
//   node forms_in_browser.mjs TOOLS_DIR CHROMIUM PROFILE_DIR BASE_URL RESULT_ID OTHER_ID
// TOOLS_DIR holds node_modules/puppeteer-core (scripts/setup installs it). Prints one line
// per form; exit status 1 with the reason when one does not work.
import { createRequire } from 'node:module';

const [tools, chromium, profile, base, resultId, otherId] = process.argv.slice(2);
const puppeteer = createRequire(tools + '/')('puppeteer-core');
const failures = [];
const fail = (text) => { failures.push(text); console.log('FAIL ' + text); };

const browser = await puppeteer.launch({
  executablePath: chromium,
  headless: true,
  userDataDir: profile,
  args: ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update',
         '--disable-sync', '--no-first-run'],
});
try {
  const page = await browser.newPage();
  page.setDefaultTimeout(30000);
  page.on('console', (m) => {
    if (/Content Security Policy/i.test(m.text())) fail('policy report on ' + page.url() + ': ' + m.text());
  });

  // Typed and sent with the Enter key, from the search box of a list page.
  const forms = [
    { name: 'search box', start: '/processors', field: '#q', text: '13700K', submit: 'enter',
      path: '/search', query: { q: '13700K' }, mustShow: 'href="/processors/13th-gen-intel-core-i7-13700k"' },
    { name: 'search by result address', start: '/benchmarks', field: '#q', text: base + '/benchmarks/' + otherId,
      submit: 'enter', path: '/search', query: {}, mustShow: 'href="/benchmarks/' + otherId + '"' },
    { name: 'compare with', start: '/benchmarks/' + resultId, field: '#b', text: otherId,
      submit: 'form.compare-form button', path: '/compare', query: { a: resultId, b: otherId },
      mustShow: 'id="compare-machines"' },
  ];
  for (const f of forms) {
    await page.goto(base + f.start, { waitUntil: 'load' });
    await page.type(f.field, f.text);
    const followed = page.waitForNavigation({ waitUntil: 'load' });
    if (f.submit === 'enter') await page.keyboard.press('Enter');
    else await page.click(f.submit);
    const reply = await followed.catch((e) => { fail(f.name + ': no navigation (' + e.message + ')'); return null; });
    if (!reply) continue;
    const url = new URL(page.url());
    const html = await page.content();
    const problems = [];
    if (reply.status() !== 200) problems.push('status ' + reply.status());
    if (url.pathname !== f.path) problems.push('landed on ' + url.pathname);
    for (const [k, v] of Object.entries(f.query)) {
      if (url.searchParams.get(k) !== v) problems.push(k + '=' + url.searchParams.get(k));
    }
    if (!html.includes(f.mustShow)) problems.push('page lacks ' + f.mustShow);
    if (problems.length) fail(f.name + ': ' + problems.join(', '));
    else console.log('ok   ' + f.name + ': ' + url.pathname + url.search);
  }
} finally {
  await browser.close();
}
process.exit(failures.length ? 1 : 0);
