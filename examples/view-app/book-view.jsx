// The contacts panel: a search box bound to the query, the
// matching contacts and a status line. In the bindings, $ is
// the data and ctr is this view.
import {Panel, Input, List, Label, Button} from './widgets.js';
import {ContactCard} from './card.jsx';

export default class BookView {
  heading = 'Contacts';
  hint = 'Search by name';

  constructor(book) {
    this.book = book;
  }
  row(c) {
    return <vx:ContactCard contact=c
                           selected=%{$.selected === c.id}/>;
  }
  view(data) {
    const rows = this.book.matching(data.query);
    return (
      <Panel title=%{ctr.heading} vdata={book: this.book.title}>
        <Input value=%%{$.query} placeholder=this.hint/>
        <List count=rows.length>
          ${rows.map((c) => this.row(c))}
        </List>
        <Label>
          %{rows.length} of ${this.book.size} shown
          ${rows.length ? null : '(no match)'}
        </Label>
        <Button on.click=this.clear disabled=%{!$.query}>
          Clear
        </Button>
      </Panel>
    );
  }
}
